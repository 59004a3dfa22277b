#pragma once

// The alert sounds through libcanberra, which plays a sound file through
// whatever the desktop uses (PulseAudio, PipeWire, ALSA) without blocking.
// When a file cannot be had or played, the display's bell rings instead, so
// that an alert is never silent by accident.

#include <functional>
#include <string>
#include <string_view>

typedef struct ca_context ca_context;

namespace tillbay::gtk {

class SoundPlayer {
public:
    // embedded gives the bytes built into the program for "ding.wav" and
    // "ding2.wav", used when the files are missing from the program's folder.
    explicit SoundPlayer(std::function<std::string_view(std::string_view name)> embedded);
    ~SoundPlayer();
    SoundPlayer(SoundPlayer const&) = delete;
    SoundPlayer& operator=(SoundPlayer const&) = delete;

    void play(std::string_view file_name);

    // The file that would be played, or empty when there is none.
    std::string file_for(std::string_view file_name);

private:
    std::function<std::string_view(std::string_view)> m_embedded;
    ca_context* m_context = nullptr;
    bool m_failure_logged = false;
};

} // namespace tillbay::gtk
