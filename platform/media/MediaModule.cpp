// The entry of the file-type module: the one symbol the core looks up after loading it.
#include "platform/media/FfmpegAudioFileWriter.h"

extern "C" __attribute__((visibility("default"))) platform::AudioFileWriter*
vocarn_make_audio_file_writer() {
    return new platform::FfmpegAudioFileWriter();
}
