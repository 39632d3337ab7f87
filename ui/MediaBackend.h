#pragma once

// The playback backend of the preview's player: one of Qt's multimedia plugins. Qt picks it
// when the first player of the process is made, the one QT_MEDIA_BACKEND names or else the
// first its plugin folders hold, and ends the program with a fatal error when that one cannot
// be loaded. Ready settles the choice before any player is made.
class MediaBackend {
public:
    // Names the FFmpeg backend when the environment names none and it is installed (it reads
    // every format Vocarn records, with correct durations; the GStreamer one refuses MPEG
    // Layer-3 in WAV and gives ADPCM files half their length), otherwise the backend Qt would
    // pick; a backend the user has named stays. True when that backend loads, so a player may
    // be made; false when there is none, and then no player may be made. Decided once per
    // process, on the first call.
    static bool Ready();
};
