// Table QR stickers: the page draws each table's code as a PNG and hands it
// over; the pictures go into a dated folder inside the folder the owner
// picks, one file per table ("3번.png").
//
// saveqrtableall / saveqrsticker open a save (the folder dialog), qrpng saves
// one picture, qrdone / saveqrstickerdone close it and show the folder,
// qrfail closes it when the page could not draw a code. The first failure
// stops the save: the pictures after it are refused with the same message.

#include "store/file_family.h"
#include "store/request_text.h"

#include "foundation/json_text.h"
#include "foundation/log.h"
#include "os/fs.h"

#include <cerrno>
#include <sys/stat.h>

namespace tillbay::store {

namespace {

constexpr size_t min_picture_bytes = 16;
constexpr size_t max_picture_bytes = 4u * 1024 * 1024;
constexpr std::string_view png_signature = "\x89PNG\r\n\x1A\n";
constexpr char const* text_nothing = "저장할 내용이 없습니다";
constexpr char const* text_bad_size = "그림 크기가 맞지 않습니다";
constexpr char const* text_not_png = "받은 것이 PNG 그림이 아닙니다";
constexpr char const* text_no_folder = "QR 을 저장할 폴더를 먼저 고르십시오";

void open_save(std::shared_ptr<bridge::Page> page, FileHooks& hooks, bool dated)
{
    os::dialog::Request request;
    request.kind = os::dialog::Kind::Folder;
    request.title = "QR 을 저장할 폴더를 고르십시오";
    auto answer = files::ask(hooks, request);
    auto& state = FileState::shared();
    if (!answer.chosen()) {
        std::lock_guard lock(state.lock);
        state.qr = {};
        page->callback("onQrFolder", "{\"ok\":false,\"cancel\":true}");
        return;
    }
    std::string folder = answer.paths.front();
    if (dated) {
        std::string sub = folder + "/" + files::local_time("테이블QR_%Y-%m-%d_%H%M");
        struct stat info {};
        // Where the dated folder cannot be made, the chosen folder itself is used.
        if (os::make_dir(sub, 0755) || (::stat(sub.c_str(), &info) == 0 && S_ISDIR(info.st_mode)))
            folder = sub;
        else
            log::bridge("QR", "날짜 폴더를 만들지 못해 고른 폴더에 저장 — " + sub);
    }
    {
        std::lock_guard lock(state.lock);
        state.qr = { true, folder, 0, {} };
    }
    log::bridge("QR", "저장 폴더 " + folder);
    page->callback("onQrFolder", "{\"ok\":true,\"folder\":" + json::quote(folder) + "}");
}

// The picture of a data URL, or the user's message.
Result<std::string> picture_of(std::string_view data_url)
{
    auto at = data_url.find("base64,");
    if (data_url.empty() || at == std::string_view::npos)
        return Error::with_message(text_nothing);
    auto bytes = json::base64_decode(data_url.substr(at + 7));
    if (!bytes)
        return Error::with_message(text_nothing);
    if (bytes->size() < min_picture_bytes || bytes->size() > max_picture_bytes)
        return Error::with_message(text_bad_size);
    if (!std::string_view(*bytes).starts_with(png_signature))
        return Error::with_message(text_not_png);
    return std::move(*bytes);
}

std::string saved_object(bool ok, int number, int saved, std::string_view msg)
{
    return std::string("{\"ok\":") + (ok ? "true" : "false") + ",\"n\":" + std::to_string(number) + ",\"saved\":"
        + std::to_string(saved) + ",\"msg\":" + json::quote(msg) + "}";
}

} // namespace

namespace files {

void saveqrtableall(bridge::Command const&, std::shared_ptr<bridge::Page> page, FileHooks& hooks) { open_save(page, hooks, true); }

void saveqrsticker(bridge::Command const&, std::shared_ptr<bridge::Page> page, FileHooks& hooks) { open_save(page, hooks, false); }

// qrpng</>number</>data URL
void qrpng(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    if (!is_digits(command.arg(1), 4) || std::atoi(std::string(command.arg(1)).c_str()) < 1)
        return page->callback("onQrSaved", saved_object(false, 0, 0, text_nothing));
    int number = std::atoi(std::string(command.arg(1)).c_str());
    post(hooks, [page, number, data = std::string(command.arg(2))] {
        auto& state = FileState::shared();
        std::string folder;
        {
            std::lock_guard lock(state.lock);
            if (!state.qr.open)
                return page->callback("onQrSaved", saved_object(false, number, 0, text_no_folder));
            if (!state.qr.failure.empty())
                return page->callback("onQrSaved", saved_object(false, number, state.qr.saved, state.qr.failure));
            folder = state.qr.folder;
        }
        std::string failure;
        auto picture = picture_of(data);
        if (!picture) {
            failure = picture.error().message;
        } else {
            os::WriteStage stage {};
            auto written = os::write_file_replacing(folder + "/" + std::to_string(number) + "번.png", picture.value(), &stage);
            if (!written)
                failure = std::to_string(number) + (stage == os::WriteStage::Write ? "번을 저장하지 못했습니다"
                                                                                   : "번을 저장하지 못했습니다 (폴더에 쓸 수 없습니다)");
        }
        std::lock_guard lock(state.lock);
        if (!failure.empty()) {
            state.qr.failure = failure;
            log::bridge("QR", failure);
            return page->callback("onQrSaved", saved_object(false, number, state.qr.saved, failure));
        }
        ++state.qr.saved;
        page->callback("onQrSaved", saved_object(true, number, state.qr.saved, {}));
    });
}

// qrdone, saveqrstickerdone: after every picture of the save.
void qrdone(bridge::Command const&, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    post(hooks, [page, &hooks] {
        auto& state = FileState::shared();
        QrSave save;
        {
            std::lock_guard lock(state.lock);
            save = std::exchange(state.qr, {});
        }
        if (!save.open)
            return page->callback("onQrDone", "{\"ok\":false,\"saved\":0,\"msg\":" + json::quote(text_no_folder) + "}");
        bool ok = save.failure.empty() && save.saved > 0;
        std::string msg = ok ? "QR " + std::to_string(save.saved) + "장을 저장했습니다" : save.failure.empty() ? text_nothing : save.failure;
        log::bridge("QR", msg + " — " + save.folder);
        page->status(msg);
        page->callback("onQrDone", std::string("{\"ok\":") + (ok ? "true" : "false") + ",\"saved\":" + std::to_string(save.saved)
            + ",\"folder\":" + json::quote(save.folder) + ",\"msg\":" + json::quote(msg) + "}");
        if (save.saved > 0 && hooks.show_in_folder)
            hooks.show_in_folder(save.folder + "/1번.png");
    });
}

// qrfail</>reason: the page could not draw a code; the save ends.
void qrfail(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    post(hooks, [page, reason = std::string(command.arg(1))] {
        auto& state = FileState::shared();
        {
            std::lock_guard lock(state.lock);
            state.qr = {};
        }
        log::bridge("QR", "QR 그림을 만들지 못함 — " + reason.substr(0, 200));
        page->status("QR 그림을 만들지 못했습니다");
    });
}

} // namespace files

} // namespace tillbay::store
