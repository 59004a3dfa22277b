// The photo commands: pick one photo or several, upload it to the photo
// service, and record the address with the product, the menu or the store.

#include "store/file_family.h"
#include "store/photo_upload.h"
#include "store/request_text.h"

#include "foundation/json_text.h"
#include "foundation/log.h"
#include "os/image.h"
#include "session/session.h"

#include <atomic>
#include <chrono>

namespace tillbay::store {

namespace {

using os::dialog::Kind;
using os::dialog::Request;

constexpr long long max_multi_photo_bytes = 5ll * 1024 * 1024;
constexpr size_t max_photos_at_once = 50;
constexpr char const* text_too_many = "한 번에 고른 사진이 너무 많아요";
constexpr char const* text_dialog_failed = "파일 선택창을 열지 못했어요";
constexpr char const* text_changed = "사진을 바꿨습니다";
constexpr char const* text_not_saved = "사진을 저장하지 못했습니다";
constexpr char const* text_which_photo = "어느 사진인지 알 수 없습니다";
constexpr char const* text_not_picked = "고른 사진을 찾지 못했습니다 — 다시 골라 주세요";

std::vector<os::dialog::Filter> photo_filters()
{
    return { { "사진 (*.jpg;*.jpeg;*.png)", { "*.jpg", "*.jpeg", "*.png" } }, { "모든 파일", { "*" } } };
}

unsigned long long ticks()
{
    return static_cast<unsigned long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

std::string upload_answer(long long id, std::string_view key, bool ok, std::string_view url, std::string_view thumb,
    std::string_view msg)
{
    return "{\"id\":" + std::to_string(id) + ",\"key\":" + json::quote(key) + ",\"ok\":" + (ok ? "true" : "false")
        + ",\"url\":" + json::quote(url) + ",\"thumb\":" + json::quote(thumb) + ",\"msg\":" + json::quote(msg) + "}";
}

std::optional<std::string> pick_one(FileHooks& hooks)
{
    Request request;
    request.kind = Kind::Open;
    request.title = "사진 고르기";
    request.filters = photo_filters();
    auto answer = files::ask(hooks, request);
    if (!answer.chosen())
        return std::nullopt;
    return answer.paths.front();
}

// What happens to the address once the photo is up: an owner request, or
// nothing (a photo for a form not yet saved).
struct Record {
    std::string request; // "cmd=32&storeidx=...&value=" + the address is appended
    bool append_url = true;
};

// Picks one photo and uploads it on the worker; with a record, the address
// is then saved with the owner request and the status line says so.
void pick_and_upload(std::shared_ptr<bridge::Page> page, FileHooks& hooks, std::string key, std::string base,
    std::optional<Record> record)
{
    auto path = pick_one(hooks);
    if (!path) // cancelling is not an error: the page only stops waiting
        return page->callback("setProductPhotoUp", upload_answer(0, key, false, {}, {}, {}));
    page->status("사진을 올리고 있습니다…");
    files::post(hooks, [page, &hooks, key = std::move(key), base = std::move(base), record = std::move(record), path = *path] {
        PhotoJob job { path, base, 0, false };
        auto photo = upload_photo(job, hooks);
        if (!photo) {
            log::bridge("PHOTO", key + " 실패 — " + photo.error().message);
            page->status(photo.error().message);
            page->callback("setProductPhotoUp", upload_answer(0, key, false, {}, {}, photo.error().message));
            return;
        }
        std::string url = photo.value().url;
        if (record) {
            std::string request = record->request + json::percent_encode(url);
            auto answer = hooks.owner_call ? hooks.owner_call(request) : Result<api::OwnerResult>(Error::with_message(text_owner_needed));
            if (!answer || !answer.value().accepted()) {
                page->status(text_not_saved);
                page->callback("setProductPhotoUp", upload_answer(0, key, false, url, {}, text_not_saved));
                return;
            }
            page->status(text_changed);
        }
        page->callback("setProductPhotoUp", upload_answer(0, key, true, url, {}, {}));
    });
}

// A command the page sent with an argument that names nothing: the page is
// told, so its button stops waiting.
void refuse_photo(bridge::Page& page, std::string_view key, std::string_view message)
{
    page.status(message);
    page.callback("setProductPhotoUp", upload_answer(0, key, false, {}, {}, message));
}

bool owner_ready(bridge::Page& page)
{
    if (session::owner_signed_in())
        return true;
    page.status(text_owner_needed);
    return false;
}

} // namespace

namespace files {

void pickproductphotos(bridge::Command const&, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    auto answer_page = [page](std::string const& object) { page->callback("setProductPhotoPick", json::quote(object)); };
    Request request;
    request.kind = Kind::OpenMany;
    request.title = "사진 여러 장 고르기 (Ctrl+A 로 폴더의 사진을 모두)";
    request.filters = photo_filters();
    auto answer = ask(hooks, request);
    if (answer.outcome == os::dialog::Answer::Outcome::Failed)
        return answer_page("{\"ok\":false,\"msg\":" + json::quote(text_dialog_failed) + "}");
    if (!answer.chosen())
        return answer_page("{\"ok\":false,\"cancel\":true}");
    if (answer.paths.size() > max_photos_at_once)
        return answer_page("{\"ok\":false,\"msg\":" + json::quote(text_too_many) + "}");
    post(hooks, [paths = answer.paths, answer_page] {
        std::string list;
        size_t first = 0;
        {
            auto& state = FileState::shared();
            std::lock_guard lock(state.lock);
            first = state.picked.size();
            state.picked.insert(state.picked.end(), paths.begin(), paths.end());
        }
        for (size_t i = 0; i < paths.size(); ++i) {
            auto thumb = os::image::preview_data_url(paths[i]);
            if (!list.empty())
                list += ',';
            list += "{\"id\":" + std::to_string(first + i + 1) + ",\"name\":" + json::quote(base_name(paths[i]))
                + ",\"thumb\":" + json::quote(thumb ? thumb.value() : std::string {}) + ",\"msg\":"
                + json::quote(thumb ? std::string {} : thumb.error().message) + "}";
        }
        answer_page("{\"ok\":true,\"photos\":[" + list + "]}");
    });
}

// uploadproductphoto</>picked photo id</>key: one photo of a multi-pick.
void uploadproductphoto(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    std::string key(command.arg(2));
    long long id = std::atoll(std::string(command.arg(1)).c_str());
    std::string path;
    {
        auto& state = FileState::shared();
        std::lock_guard lock(state.lock);
        if (is_digits(command.arg(1)) && id >= 1 && static_cast<size_t>(id) <= state.picked.size())
            path = state.picked[static_cast<size_t>(id - 1)];
    }
    if (path.empty())
        return page->callback("setProductPhotoUp", upload_answer(id, key, false, {}, {}, text_not_picked));
    static std::atomic<int> running { 0 };
    char base[96];
    std::snprintf(base, sizeof base, "addproduct_%d_%llu_%d", session::storeidx(), ticks(), ++running);
    post(hooks, [page, &hooks, id, key, job = PhotoJob { path, base, max_multi_photo_bytes, true }] {
        auto photo = upload_photo(job, hooks);
        if (!photo)
            log::bridge("PHOTO", "여러 장 올리기 실패 — " + photo.error().message);
        page->callback("setProductPhotoUp", photo ? upload_answer(id, key, true, photo.value().url, photo.value().thumb, {})
                                                  : upload_answer(id, key, false, {}, {}, photo.error().message));
    });
}

void addproductphoto(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    std::string key = command.arg(1).empty() ? "addproductphoto" : std::string(command.arg(1));
    pick_and_upload(page, hooks, key, "addproduct_" + std::to_string(session::storeidx()) + "_" + std::to_string(ticks()), std::nullopt);
}

void addmenuphoto(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    std::string key = command.arg(1).empty() ? "addmenuphoto" : std::string(command.arg(1));
    pick_and_upload(page, hooks, key, "addmenu_" + std::to_string(session::storeidx()) + "_" + std::to_string(ticks()), std::nullopt);
}

// modifyproductphoto</>product: the product's main photo.
void modifyproductphoto(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    if (!is_digits(command.arg(1)))
        return refuse_photo(*page, "modifyproductphoto", text_which_photo);
    if (!owner_ready(*page))
        return;
    std::string store = std::to_string(session::storeidx());
    pick_and_upload(page, hooks, "modifyproductphoto", "addproduct_" + store + "_" + std::to_string(ticks()),
        Record { "cmd=32&storeidx=" + store + "&productidx=" + std::string(command.arg(1)) + "&value=" });
}

// addgalleryphoto</>product: one more photo in the product's gallery.
void addgalleryphoto(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    if (!is_digits(command.arg(1)))
        return refuse_photo(*page, "addgalleryphoto", text_which_photo);
    if (!owner_ready(*page))
        return;
    std::string store = std::to_string(session::storeidx());
    pick_and_upload(page, hooks, "addgalleryphoto", "addproduct_" + store + "_" + std::to_string(ticks()),
        Record { "cmd=81&storeidx=" + store + "&productidx=" + std::string(command.arg(1)) + "&photourl=" });
}

// modifymenuphoto</>menu
void modifymenuphoto(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    if (!is_digits(command.arg(1)))
        return refuse_photo(*page, "modifymenuphoto", text_which_photo);
    if (!owner_ready(*page))
        return;
    std::string store = std::to_string(session::storeidx());
    std::string menu(command.arg(1));
    pick_and_upload(page, hooks, "modifymenuphoto", "menu_" + store + "_" + menu + "_" + std::to_string(ticks()),
        Record { "cmd=17&storeidx=" + store + "&menuidx=" + menu + "&value=" });
}

// storephoto</>slot[</>name]: a photo of the store in a numbered slot.
void storephoto(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks)
{
    if (!is_digits(command.arg(1), 2))
        return refuse_photo(*page, "storephoto", text_which_photo);
    if (!owner_ready(*page))
        return;
    std::string store = std::to_string(session::storeidx());
    std::string mode = std::to_string(std::atoi(std::string(command.arg(1)).c_str()));
    std::string base = "store_" + store + "_mode" + mode;
    if (!command.arg(2).empty() && command.arg(2) != "0")
        base = std::string(command.arg(2));
    pick_and_upload(page, hooks, "storephoto", base,
        Record { "cmd=6&storeidx=" + store + "&mode=" + mode + "&photopath=" });
}

} // namespace files

} // namespace tillbay::store
