#include "platform/media/AudioFileWriter.h"

#include <string>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace platform {

namespace {

using Make = AudioFileWriter* (*)();

// The folder of the running executable, with a trailing slash; empty when unknown.
std::string ExecutableFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return {};
    }
    const std::string exe(path, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

// Loads the module once: beside the executable (the build tree), in the library folder of
// an installed Vocarn, or where it was built (tests). Never unloaded.
Make LoadModule() {
    static const Make make = [] {
        const std::string folder = ExecutableFolder();
        for (const std::string& path :
             {folder + "vocarn-media.so", folder + VOCARN_MODULE_FROM_BIN + "/vocarn-media.so",
              std::string(VOCARN_MODULE_BUILT)}) {
            if (void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
                if (void* entry = ::dlsym(module, "vocarn_make_audio_file_writer")) {
                    return reinterpret_cast<Make>(entry);
                }
            }
        }
        return static_cast<Make>(nullptr);
    }();
    return make;
}

} // namespace

std::unique_ptr<AudioFileWriter> MakeFfmpegAudioFileWriter() {
    const Make make = LoadModule();
    return make != nullptr ? std::unique_ptr<AudioFileWriter>(make()) : nullptr;
}

} // namespace platform
