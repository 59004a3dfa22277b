// Installs a bundle into a store from a version manifest file, as the update
// thread does, so tests can run (and kill) installs in processes of their own.
//
//   bundle_installer install STORE INSTALL_DIR VERSION_JSON [WEB_HOST]
//   bundle_installer hold STORE         (keeps its lease until stdin closes)

#include "os/fs.h"
#include "update/bundle_store.h"

#include <cstdio>
#include <string>
#include <unistd.h>

using namespace tillbay;

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    std::string mode = argv[1];
    std::string store_dir = argv[2];
    bundle::Store store({ store_dir + "/ui-bundles", store_dir + "/legacy", argc > 3 ? argv[3] : "" });
    if (mode == "hold") {
        auto root = store.root();
        std::printf("holding %s leased %d\n", root ? root->c_str() : "", store.leased() ? 1 : 0);
        std::fflush(stdout);
        char c;
        while (::read(0, &c, 1) > 0) {
        }
        return 0;
    }
    if (mode != "install" || argc < 5)
        return 2;
    auto text = os::read_file(argv[4], 1024 * 1024);
    if (!text)
        return 3;
    std::printf("installing\n");
    std::fflush(stdout);
    std::optional<std::string_view> web_host;
    if (argc > 5)
        web_host = argv[5];
    auto outcome = store.install(web_host, update::scan_version_manifest(text.value()));
    std::printf("%s [%s]\n", outcome.switched ? "switched" : "unchanged", outcome.error.c_str());
    return 0;
}
