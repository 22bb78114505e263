#pragma once

#include "shell/Scene.h"

namespace SceneLoader {

// Loads ulmet-scene.so from beside the module this code is in (ulmet-full.so) and makes its
// scene; null, with the reason on standard error, when it cannot.
std::unique_ptr<Scene> load(const Scene::Parts& parts);

} // namespace SceneLoader
