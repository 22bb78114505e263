#include "shell/SceneLoader.h"

#include "base/Modules.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace SceneLoader {

std::unique_ptr<Scene> load(const Scene::Parts& parts) {
    using Create = Scene* (*)(const Scene::Parts*);
    const std::filesystem::path self = Modules::fileOf(reinterpret_cast<const void*>(&SceneLoader::load));
    if (self.empty()) {
        std::fprintf(stderr, "ulmet: cannot tell where the program module is; the windows cannot be shown\n");
        return nullptr;
    }
    const std::filesystem::path path = self.parent_path() / "ulmet-scene.so";
    std::string errors;
    if (auto create = reinterpret_cast<Create>(Modules::entry(path, "ulmet_scene_create", errors)))
        return std::unique_ptr<Scene>(create(&parts));
    std::fprintf(stderr, "ulmet: cannot load the windows' module %s%s\n", path.c_str(), errors.c_str());
    return nullptr;
}

} // namespace SceneLoader
