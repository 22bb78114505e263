#include "shell/SceneLoader.h"

#include "base/Modules.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace SceneLoader {

std::unique_ptr<Scene> load(const Scene::Parts& parts) {
    using Create = Scene* (*)(const Scene::Parts*);
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&SceneLoader::load), &self) == 0 || !self.dli_fname) {
        std::fprintf(stderr, "ulmet: cannot tell where the program module is; the windows cannot be shown\n");
        return nullptr;
    }
    const std::filesystem::path path = std::filesystem::path(self.dli_fname).parent_path() / "ulmet-scene.so";
    std::string errors;
    if (auto create = reinterpret_cast<Create>(Modules::entry(path, "ulmet_scene_create", errors)))
        return std::unique_ptr<Scene>(create(&parts));
    std::fprintf(stderr, "ulmet: cannot load the windows' module %s%s\n", path.c_str(), errors.c_str());
    return nullptr;
}

} // namespace SceneLoader
