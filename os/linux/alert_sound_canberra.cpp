#include "os/linux/alert_sound_canberra.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "os/fs.h"

#include <canberra.h>
#include <gtk/gtk.h>

namespace tillbay::gtk {

SoundPlayer::SoundPlayer(std::function<std::string_view(std::string_view)> embedded)
    : m_embedded(std::move(embedded))
{
}

SoundPlayer::~SoundPlayer()
{
    if (m_context)
        ca_context_destroy(m_context);
}

std::string SoundPlayer::file_for(std::string_view file_name)
{
    std::string beside = paths::exe_dir();
    if (!beside.empty()) {
        beside += file_name;
        if (os::file_exists(beside))
            return beside;
    }
    // The sounds are built into the program as well, so that a program file
    // copied on its own still rings. The sound player needs a file, which is
    // kept in the per-user folder.
    std::string_view bytes = m_embedded ? m_embedded(file_name) : std::string_view {};
    if (bytes.empty())
        return {};
    std::string copy = paths::user_file("tillbay-" + std::string(file_name));
    if (copy.empty())
        return {};
    if (os::file_size(copy) != static_cast<long long>(bytes.size()) && !os::write_file_atomic(copy, bytes).ok())
        return {};
    return copy;
}

void SoundPlayer::play(std::string_view file_name)
{
    std::string path = file_for(file_name);
    int rc = CA_ERROR_NOTFOUND;
    if (!path.empty()) {
        if (!m_context && ca_context_create(&m_context) != CA_SUCCESS)
            m_context = nullptr;
        if (m_context) {
            ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "TILLWAVE POS", CA_PROP_APPLICATION_ID,
                "tillbay", nullptr);
            rc = ca_context_play(m_context, 1, CA_PROP_MEDIA_FILENAME, path.c_str(), CA_PROP_EVENT_DESCRIPTION,
                "새 주문", nullptr);
        } else {
            rc = CA_ERROR_NOTAVAILABLE;
        }
    }
    if (rc == CA_SUCCESS)
        return;
    if (!m_failure_logged) {
        m_failure_logged = true;
        log::bridge("UI", std::string("알림음을 재생하지 못해 벨로 대신한다: ") + std::string(file_name) + " ("
                + ca_strerror(rc) + ")");
    }
    if (GdkDisplay* display = gdk_display_get_default())
        gdk_display_beep(display);
}

} // namespace tillbay::gtk
