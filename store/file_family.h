#pragma once

// The files the owner keeps: the shipping list saved as a workbook or CSV,
// invoice and product lists read from the PC, the invoice page's files
// saved, photos picked, straightened, shrunk and uploaded to the photo
// service, and table QR pictures saved into a dated folder.
//
// Dialogs are modal and run on the UI thread when the command arrives;
// everything that blocks afterwards (the server, the photo service, reading,
// converting and writing files) runs on the files worker, one job at a time,
// and answers the page that asked through its page callbacks.

#include "base/result.h"
#include "bridge/family.h"
#include "os/file_dialog.h"
#include "os/http.h"
#include "server/api.h"
#include "store/command_rows.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tillbay::store {

struct FileHooks {
    // The file dialogs (UI thread). Without them every dialog is cancelled.
    os::dialog::Dialogs* dialogs = nullptr;
    // Runs a job on the files worker; without it the job runs at once.
    std::function<void(std::function<void()>)> post_work;
    // A page that answers the command's document from any thread.
    std::function<std::shared_ptr<bridge::Page>(bridge::Page& page)> keep_page;
    // A call to the web host (worker).
    std::function<Result<os::http::Response>(os::http::Endpoint const&, os::http::Request const&)> web;
    // The settings' web host text.
    std::function<std::string()> web_host;
    // The encrypted owner call (worker).
    std::function<Result<api::OwnerResult>(std::string_view command)> owner_call;
    // Shows the new file in the file manager (any thread).
    std::function<void(std::string const& path)> show_in_folder;
    // The temporary folder for prepared photos.
    std::function<std::string()> temp_folder;
};

// The state of a table-QR save: the folder the pictures go into, the
// numbers saved and the first failure, which stops the rest.
struct QrSave {
    bool open = false;
    std::string folder;
    int saved = 0;
    std::string failure;
};

class FileFamily final : public bridge::Family {
public:
    FileFamily(Slot slot, FileHooks& hooks);
    bridge::Handled handle(bridge::Command const& command, bridge::Page& page) override;

    // The names of the slot's commands.
    static std::vector<std::string_view> command_names(Slot slot);

    // For the commands' own files.
    FileHooks& hooks() { return m_hooks; }

private:
    Slot m_slot;
    FileHooks& m_hooks;
};

// State the commands share between families and jobs.
struct FileState {
    std::atomic<bool> exporting { false };
    std::mutex lock;
    std::vector<std::string> picked; // photos of the last multi-pick, by number
    QrSave qr;
    static FileState& shared();
};

// The command handlers, one file each.
namespace files {
using Handler = void (*)(bridge::Command const& command, std::shared_ptr<bridge::Page> page, FileHooks& hooks);
void mallshipcsv(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void openinvoicefile(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void mallsavecsv(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void openproductcsv(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void productcsvsave(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void pickproductphotos(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void uploadproductphoto(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void addproductphoto(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void modifyproductphoto(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void addgalleryphoto(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void addmenuphoto(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void modifymenuphoto(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void storephoto(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void saveqrtableall(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void saveqrsticker(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void qrpng(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void qrdone(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void qrfail(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);
void openfilefolder(bridge::Command const&, std::shared_ptr<bridge::Page>, FileHooks&);

// Where requests to the web host text go: "https://" secure, "http://"
// plain, neither: plain for localhost and private addresses, else secure;
// the port written in the text, else the scheme's.
os::http::Endpoint web_endpoint(std::string_view host_text);

// Runs the job on the files worker, logging anything it throws.
void post(FileHooks& hooks, std::function<void()> job);
// A dialog through the hooks; cancelled without dialogs.
os::dialog::Answer ask(FileHooks& hooks, os::dialog::Request const& request);
// "20240305_0907"-style local time text with the given format.
std::string local_time(char const* format);
// The last path component.
std::string base_name(std::string const& path);
} // namespace files

} // namespace tillbay::store
