#pragma once
// Which build of the native core is loaded. Both extension modules run on
// one shared core; the companion's module, built in the same build, carries
// the same identity and refuses to run on any other core (its expectations
// of the classes and values would not hold there).

namespace quelmar::exposure {

// The identity of the loaded core: a text made when the build was
// configured.
const char* core_build_id() noexcept;

}  // namespace quelmar::exposure
