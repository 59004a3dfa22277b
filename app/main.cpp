// tillbay: the counter program "TILLWAVE POS".
//
// main() runs the start-up phases in their fixed order on the GTK main thread
// (the UI thread), then the main loop. Everything the user sees is created
// here. At the end every worker is stopped and joined before the objects it
// reaches are destroyed.

#include "alert_wiring.h"
#include "discovery_wiring.h"
#include "embedded_resources.h"
#include "main_view.h"
#include "nav_wiring.h"
#include "program.h"

#include "base/thread_role.h"
#include "bridge/page_script.h"
#include "bridge/policy.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "foundation/user_files.h"
#include "orders/order_wiring.h"
#include "os/fs.h"
#include "os/http.h"
#include "os/linux/gtk_main_window.h"
#include "os/linux/webkit_automation.h"
#include "os/linux/webkit_view.h"
#include "server/login_family.h"
#include "server/push_channel.h"
#include "server/transport.h"
#include "shell/app_queue.h"
#include "shell/main_window.h"
#include "shell/service_watch.h"
#include "update/bundle.h"
#include "update/self_update.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtk/gtk.h>
#include <malloc.h>
#include <memory>
#include <optional>
#include <string>

namespace tillbay::app {

namespace {

// The longest values of the environment variables that are looked at; a
// longer value is ignored as a whole.
constexpr size_t max_udf_length = 259;
constexpr size_t max_testport_length = 15;

// How long the end of the program waits for the push channel's threads once
// every connection has been aborted.
constexpr int channel_stop_wait_ms = 5000;

// The test port: digits only, 1 to 15 of them.
std::optional<std::string> test_port_digits()
{
    char const* value = std::getenv("TILLBAY_TESTPORT");
    if (!value || !*value || std::strlen(value) > max_testport_length)
        return std::nullopt;
    for (char const* p = value; *p; ++p) {
        if (*p < '0' || *p > '9')
            return std::nullopt;
    }
    return std::string(value);
}

std::string user_data_folder()
{
    if (char const* udf = std::getenv("TILLBAY_UDF"); udf && *udf && std::strlen(udf) <= max_udf_length)
        return udf;
    std::string dir = paths::user_dir();
    if (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    return dir;
}

// The icon is written once into the per-user folder, where the tray host can
// read it by path.
std::string tray_icon_path()
{
    std::string path = paths::user_file("tillbay-icon.png");
    if (path.empty())
        return {};
    auto png = resources::find("icon.png");
    if (!os::file_exists(path) || os::file_size(path) != static_cast<long long>(png.size()))
        (void)os::write_file_atomic(path, png);
    return path;
}

Program* g_program = nullptr;

bridge::Bridge& the_bridge() { return g_program->view->bridge(); }

// ---- what the workers hand to the UI thread ---------------------------------

void handle_app_message(shell::AppMessage& message)
{
    Program& program = *g_program;
    if (!program.view)
        return;
    switch (message.id) {
    case shell::AppMessageId::Drain:
        the_bridge().drain();
        return;
    case shell::AppMessageId::Tray:
        program.shell->bring_to_front();
        return;
    default:
        break;
    }
    if (auto command = shell::internal_command_for(message))
        the_bridge().queue_internal(std::move(*command));
}

// Runs a whole script for the document a Page stands for.
void page_script(bridge::Page& page, std::string const& script)
{
    auto* document = dynamic_cast<bridge::DocumentPage*>(&page);
    std::optional<uint64_t> generation;
    if (document)
        generation = document->generation();
    the_bridge().on_ui([script, generation] { the_bridge().page_callback(script, generation); });
}

void send_update_state(bridge::Page& page)
{
    auto state = g_program->update_state.get();
    page_script(page, update::update_state_script(state.name, state.message));
}

void send_service_state(bridge::Page& page)
{
    auto& service = the_bridge().service_state();
    page_script(page, bridge::service_block_script(service.block()));
    page_script(page, service.server_down_script());
}

// Opens a page the sign-in commands ask for: the two local pages as files,
// every other page through the page routing. The sign-ins run on the command
// lane; the navigation itself is handed to the UI thread.
void open_page(std::string_view name)
{
    if (g_program->nav)
        g_program->nav->open_page(name);
}

void start_update_thread(std::function<void()> finished = {})
{
    update::Hooks hooks;
    hooks.state = [](std::string const& state, std::string const& message) {
        the_bridge().queue_internal(update::updstate_command(state, message));
    };
    hooks.staged = [] { g_program->app_queue->post(shell::AppMessageId::UpdateReady); };
    hooks.failed = [](std::string const& error) {
        g_program->app_queue->post_text(shell::AppMessageId::UpdateFailed, 0, error);
    };
    hooks.status = [](std::string const& message) { the_bridge().queue_internal("\x01toast</>" + message); };
    hooks.finished = std::move(finished);
    update::start_thread(std::move(hooks));
}

// Failures after the main loop has started end it with this exit code.
void fail_in_loop(std::string_view text)
{
    gtk::message_box(g_program->window ? g_program->window->window() : nullptr, gtk::BoxIcon::Error, text);
    g_program->exit_code = 1;
    gtk_main_quit();
}

// ---- start-up phases ----------------------------------------------------------

// The settings, once for the whole run, and the UI bundle the run will use:
// the command-line switches ("--rollback-ui" once, every "--retry-ui") and a
// verified bundle from the installation copy when there is none.
void read_settings_and_bundle(int argc, char** argv)
{
    settings::migrate_old_server_settings();
    settings::read_server_settings();
    (void)bundle::set_web_host(settings::server().webhost);

    bool rolled_back = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rollback-ui") == 0 && !rolled_back) {
            rolled_back = true;
            if (!bundle::roll_back().ok())
                gtk::message_box(nullptr, gtk::BoxIcon::Warning, bundle::text::rollback_failed);
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--retry-ui") == 0)
            (void)bundle::clear_held_back();
    }
    if (bundle::seed_from_installation())
        log::bridge("UI", "설치본에서 검증된 화면 묶음을 준비했습니다");
    if (!bundle::leased())
        log::bridge("UI", "검증된 화면 묶음이 없어 이전 설치 화면을 임시 사용합니다. 다음 갱신에서 묶음을 준비합니다");
}

std::optional<std::string> bundle_page_file(std::string_view name)
{
    auto path = bundle::resolve(name);
    if (!path.ok() || !os::file_exists(path.value()))
        return std::nullopt;
    return path.release_value();
}

bool build_page_policy(Program& program)
{
    bridge::PolicySource source;
    source.page_file = bundle_page_file;
    source.active_bundle_dir = []() -> std::optional<std::string> {
        if (!bundle::leased())
            return std::nullopt;
        return bundle::root_in_use();
    };
    source.web_host = settings::server().webhost;
    auto policy = bridge::PagePolicy::build(source);
    if (!policy.ok()) {
        log::bridge("UI", "화면 경로 준비 실패: " + policy.error().detail);
        gtk::message_box(nullptr, gtk::BoxIcon::Error, "허용된 화면 경로를 준비하지 못했습니다. 설치와 화면 갱신을 확인해 주세요.");
        return false;
    }
    program.policy = std::make_unique<bridge::PagePolicy>(policy.release_value());
    return true;
}

void create_main_window(Program& program)
{
    gtk::MainWindow::Events events;
    events.f11 = [] {
        if (g_program->view)
            the_bridge().queue_internal("setfull");
    };
    events.close_requested = [] { return g_program->shell->confirm_close(); };
    events.destroyed = [] { stop_workers(*g_program); };
    events.alert_tick = [] {
        if (g_program->alert)
            g_program->alert->tick();
    };
    program.window = std::make_unique<gtk::MainWindow>(std::move(events), resources::find("icon.png"));
    program.window->show();
}

void create_main_view(Program& program)
{
    program.view = std::make_unique<MainView>(*program.policy,
        bridge::WebViewHostConfig {
            bundle_page_file,
            [] {
                if (g_program->door)
                    g_program->door->before_login_page();
            },
            [] { g_program->app_queue->post(shell::AppMessageId::Drain); },
        });
    program.view->set_on_web_process_gone([] { g_program->app_queue->post(shell::AppMessageId::NavRefresh); });
    program.lane.start();
    the_bridge().set_lane(&program.lane);
}

// The command families and the hooks that join them to the page set-up.
void wire_families(Program& program)
{
    bridge::Bridge& bridge = the_bridge();
    program.orders = std::make_unique<orders::OrderWiring>(bridge);
    program.orders->attach();

    shell::MainWindow::Context shell_context;
    shell_context.port = program.window.get();
    shell_context.fullscreen_path = paths::user_file("fullscreen.txt");
    shell_context.pending_print_jobs = [] { return g_program->printing ? g_program->printing->pending_jobs() : 0u; };
    shell_context.ui_version = [] { return bundle::ui_version_in_use(); };
    shell_context.server_host = [] { return settings::server().host; };
    shell_context.test_port = [] { return g_program->test_port; };
    shell_context.run_page_script = [](std::string_view script) { the_bridge().page_callback(script); };
    shell_context.status = [](std::string_view text) { the_bridge().status(text); };
    shell_context.send_service_state = send_service_state;
    program.shell = std::make_unique<shell::MainWindow>(std::move(shell_context));
    program.shell_family = std::make_unique<shell::ShellFamily>(*program.shell, *program.window);
    bridge.add_family(bridge::FamilySlot::Pc, program.shell_family.get());

    server::LoginHooks login;
    login.navigate = open_page;
    login.update_state = [] { return g_program->update_state.get(); };
    login.send_update_state = send_update_state;
    login.send_server_down = [](bridge::Page& page) { page_script(page, the_bridge().service_state().server_down_script()); };
    login.send_service_block = [](bridge::Page& page) {
        page_script(page, bridge::service_block_script(the_bridge().service_state().block()));
    };
    login.push_stop = [] { the_bridge().service_state().clear_channel_clock(); };
    program.orders->add_login_hooks(login);
    program.login_family = std::make_unique<server::LoginFamily>(std::move(login));
    bridge.add_family(bridge::FamilySlot::Login, program.login_family.get());

    // The printer commands, and the print queue's results back to the UI thread.
    program.printing = std::make_unique<PrintingWiring>(bridge);
    program.printing->attach();
    program.printing->connect(*program.orders);

    UpdateRetryHooks retry;
    retry.clear_held_back = []() -> std::string {
        auto cleared = bundle::clear_held_back();
        return cleared.ok() ? std::string {} : cleared.error().message;
    };
    retry.report_state = [](std::string const& state, std::string const& message) {
        the_bridge().queue_internal(update::updstate_command(state, message));
    };
    retry.start_check = [] { start_update_thread(); };
    program.update_retry = std::make_unique<UpdateRetryFamily>(std::move(retry));
    bridge.add_family(bridge::FamilySlot::Login, program.update_retry.get());

    bridge::BridgeHooks hooks;
    hooks.send_version_line = [](bridge::Page& page) {
        g_program->shell->send_version(page);
        // A sign-in or sign-out changes the shop name the customer sees.
        if (g_program->door)
            g_program->door->page_setup();
    };
    hooks.settings_problem_host = []() -> std::optional<std::string> {
        if (settings::state() == settings::State::MissingServer)
            return settings::server().host;
        return std::nullopt;
    };
    hooks.web_host_text = [] { return settings::server().webhost; };
    hooks.signed_in = []() -> std::optional<bridge::SignedInStore> {
        auto staff = session::staff();
        if (!staff.signed_in)
            return std::nullopt;
        return bridge::SignedInStore { staff.shop_name, staff.storeidx };
    };
    hooks.update_state = [](std::string_view state, std::string_view text, bridge::Page& page) {
        g_program->update_state.set({ std::string(state), std::string(text) });
        send_update_state(page);
    };
    program.orders->add_bridge_hooks(hooks);
    program.nav->add_bridge_hooks(hooks);
    bridge.set_hooks(std::move(hooks));
}

// Navigation, the page API relay and the PC preferences.
void create_nav(Program& program)
{
    program.nav = std::make_unique<NavWiring>(*program.policy, *program.view,
        NavWiring::Context {
            [] { return g_program->update_state.get(); },
            [](server::UpdateState state) { g_program->update_state.set(std::move(state)); },
            send_update_state,
            [](std::function<void()> finished) { start_update_thread(std::move(finished)); },
            [] {
                if (g_program->alert)
                    g_program->alert->play_test_sound();
            },
        });
    program.nav->attach();
}

void create_alert(Program& program)
{
    program.alert = std::make_unique<AlertWiring>(gtk::AlertConfig {
        [] { return g_program && g_program->window ? g_program->window->window() : nullptr; },
        [] { g_program->shell->bring_to_front(); },
        [] { g_program->app_queue->post(shell::AppMessageId::Tray, 0x0202); },
        tray_icon_path(),
        resources::find,
    });
    program.alert->attach(the_bridge());
    program.alert->start();
    program.discovery = std::make_unique<DiscoveryWiring>(the_bridge());
    program.window->start_alert_timer();
}

// The owner's back-office families, after the login, order and alert ones;
// their pages open on the UI host.
void create_store(Program& program)
{
    program.store = std::make_unique<StoreWiring>(the_bridge());
    program.store->attach();
    // With the automation endpoint on, TILLBAY_DIALOG_PATH answers every file dialog.
    char const* dialog_path = std::getenv("TILLBAY_DIALOG_PATH");
    if (program.test_port && dialog_path && *dialog_path)
        program.store->use_dialogs(os::dialog::fixed_dialogs(dialog_path));
    else
        program.store->use_dialogs(os::dialog::native_dialogs());
    program.store->set_route_page([](std::string_view page) { g_program->nav->route_page(page); });
    program.store->set_record_page([](std::string_view page, bool old) { g_program->nav->record_page(page, old); });
}

// The tablet door and the customer display; they start once the web view exists.
void create_door(Program& program)
{
    program.door = std::make_unique<DoorWiring>(the_bridge(), *program.policy, program.test_port);
    program.door->attach();
    program.view->set_customer_view([] { return g_program->door ? g_program->door->customer_view() : nullptr; });
}

// Where a request on the custom scheme goes, as the page policy reads it.
gtk::SchemeTarget read_scheme_address(std::string_view uri)
{
    gtk::SchemeTarget target;
    auto address = bridge::parse_address(uri, bridge::ui_scheme);
    if (!address)
        return target;
    if (address->host == bridge::api_virtual_host)
        target.kind = gtk::SchemeTarget::Kind::Api;
    else if (address->host == bridge::ui_virtual_host && address->port == 443)
        target.kind = gtk::SchemeTarget::Kind::UiFile;
    else
        target.kind = gtk::SchemeTarget::Kind::Unknown;
    target.decoded_path = address->path;
    return target;
}

// The web context with the custom scheme of the two virtual hosts, and the
// automation endpoint under the test port.
bool create_web_context(Program& program, std::optional<std::string> const& port)
{
    std::string udf = user_data_folder();
    if (!udf.empty())
        (void)os::make_dir(udf, os::private_dir_mode);

    gtk::WebContextOptions options;
    options.user_data_folder = udf;
    options.extension_dir = paths::exe_dir() + "webext";
    options.developer_extras = program.test_port;
    options.read_scheme_address = read_scheme_address;
    if (bundle::leased() || bundle::root_in_use())
        options.ui_folder = bundle::root_in_use().value_or("");
    if (!os::file_exists(options.extension_dir + "/libtillbay-webext.so"))
        log::bridge("UI", "화면 확장(webext)이 없다 — 페이지 명령을 받을 수 없다: " + options.extension_dir);
    if (!gtk::create_web_context(options)) {
        char text[256];
        std::snprintf(text, sizeof text,
            "창을 준비하지 못했습니다. (오류 0x%08X)\n\nWebKitGTK 화면 구성요소를 설치하거나 다시 설치해 보십시오.", 0x80004005u);
        gtk::message_box(program.window->window(), gtk::BoxIcon::Error, text);
        return false;
    }
    if (port) {
        // Up to 15 digits: a value beyond 65535 is refused, never wrapped.
        program.automation = gtk::AutomationServer::start(std::strtoul(port->c_str(), nullptr, 10), *program.view);
        if (!program.automation)
            log::bridge("TEST", "시험용 문을 열지 못했다 — 127.0.0.1:" + *port);
    }
    return true;
}

// The web view part of the start, inside the main loop: the view with its
// guard script, the UI folder on the UI virtual host, the first page, and the
// threads that start once the view exists.
gboolean start_web_view(gpointer)
{
    log::guarded("화면 시작 실패", [] {
        Program& program = *g_program;
        std::string guard = program.policy->guard_script(bridge::load_page_script());
        if (!program.view->create_view(guard, program.test_port)) {
            fail_in_loop("화면 보호 설정을 준비하지 못했습니다. WebKitGTK 화면 구성요소를 확인해 주세요.");
            return;
        }
        program.window->set_content(program.view->view()->widget());
        program.window->show();

        bool mapped = gtk::ui_folder_mapped();
        program.view->host().set_virtual_host_mapped(mapped);
        if (!mapped) {
            log::bridge("UI", "화면 묶음 폴더가 없다 — 화면 중단");
            fail_in_loop("검증된 화면을 연결하지 못했습니다. 화면 구성요소와 화면 갱신 상태를 확인해 주세요.");
            return;
        }
        log::bridge("RELAY", "창구 중계 등록 filter=0x00000000 event=0x00000000");
        log::bridge("UI", "가맹점 화면 로컬(" + bridge::ui_origin() + "/ → " + bundle::root_in_use().value_or("") + ")");

        program.view->host().open_local_page("login.html");
        program.door->start();
        program.nav->start();

        program.service_watch = std::make_unique<shell::ServiceWatch>(the_bridge().service_state(),
            settings::server().webhost, shell::fetch_from_web_host,
            [](std::string command) { the_bridge().queue_internal(std::move(command)); },
            shell::configured_service_watch_period());
        program.service_watch->start();
        start_update_thread();
    });
    return G_SOURCE_REMOVE;
}

} // namespace

// The end of the program, when the main window goes (and again, harmlessly,
// after the loop): every network wait is cut short, then each worker is
// stopped and joined while the objects it reaches still exist.
void stop_workers(Program& program)
{
    if (program.workers_stopped)
        return;
    program.workers_stopped = true;
    // The door's server thread first, then the customer window, before the views go.
    if (program.door)
        program.door->shut_down();
    program.window->stop_timers();
    if (program.alert)
        program.alert->shut_down();
    transport::abort_all();
    os::http::abort_all();
    if (program.nav)
        program.nav->shut_down();
    if (program.orders)
        program.orders->shut_down();
    // The printer search ends within a second of being cancelled.
    program.discovery.reset();
    program.lane.stop();
    // After the lane: a command still running there can only queue a job.
    if (program.printing)
        program.printing->shut_down();
    if (program.service_watch)
        program.service_watch->stop();
    update::join_threads();
    if (!push::wait_for_channel_threads(channel_stop_wait_ms))
        log::bridge("RELAY", "주문 알림 연결이 제때 끝나지 않았습니다");
    program.automation.reset();
}

int run(int argc, char** argv)
{
    // A busy day's order list is a hundred kilobytes and more, and each
    // reload copies it several times between the command lane and the UI
    // thread: blocks from 64 kB up are mapped on their own and go straight
    // back to the system when freed, and the threads share two arenas
    // instead of one each, so a busy day does not leave the heap spread out.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    mallopt(M_ARENA_MAX, 2);
    log::install_crash_report();
    // A peer that resets while a TLS record is being written must end the
    // write with an error, not the process.
    std::signal(SIGPIPE, SIG_IGN);
    // On a Wayland desktop GTK would pick its Wayland backend, where a window
    // can neither keep itself above the others nor choose its place: the
    // alert badge and the customer display need both. GTK is asked for its
    // X11 backend (XWayland) first; a GDK_BACKEND the user set still decides.
    if (!std::getenv("GDK_BACKEND"))
        gdk_set_allowed_backends("x11,*");
    gtk_init(&argc, &argv);
    thread_role::mark_ui_thread();
    thread_role::set_report([](std::string_view what) { log::bridge("BUG", "화면 스레드에서 기다리는 작업: " + std::string(what)); });

    // A staged program update: when the new program is in place, it is
    // started with this command line and this process ends before any window.
    if (update::swap_at_start(argv))
        return 0;
    if (GdkDisplay* display = gdk_display_get_default())
        log::bridge("UI", std::string("화면 표시 방식: ") + G_OBJECT_TYPE_NAME(display));

    Program program;
    g_program = &program;
    // The queue is drained at the priority of input events, not as an idle
    // task: an order list or a page's answer waits neither for the web
    // view's redraws nor behind a stream of other idle work.
    program.app_queue = std::make_unique<shell::AppQueue>([] {
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer) -> gboolean {
                log::guarded("앱 메시지 처리 실패", [] { g_program->app_queue->drain_on_ui_thread(handle_app_message); });
                return G_SOURCE_REMOVE;
            },
            nullptr, nullptr);
    });

    auto port = test_port_digits();
    if (port) {
        program.test_port = true;
        thread_role::set_strict(true);
        log::bridge("TEST", "시험용 디버깅 문 열림 — 127.0.0.1:" + *port + " (TILLBAY_TESTPORT)");
    }

    read_settings_and_bundle(argc, argv);
    if (!build_page_policy(program))
        return 1;
    transport::configure(settings::server().tls, settings::server().tlsfp, settings::server().host);
    // The owner's remembered sign-in never outlives a run.
    userfiles::remove_merchant_file();

    create_main_window(program);
    create_main_view(program);
    create_nav(program);
    wire_families(program);
    create_alert(program);
    create_store(program);
    create_door(program);
    if (shell::read_fullscreen_file(paths::user_file("fullscreen.txt")))
        the_bridge().queue_internal("setfull</>1");
    if (!create_web_context(program, port)) {
        stop_workers(program);
        return 1;
    }

    g_idle_add(start_web_view, nullptr);
    gtk_main();

    stop_workers(program);
    program.service_watch.reset();
    int code = program.exit_code;
    program.alert.reset();
    program.door.reset();
    program.nav.reset();
    program.view.reset();
    program.window.reset();
    g_program = nullptr;
    return code;
}

} // namespace tillbay::app

int main(int argc, char** argv) { return tillbay::app::run(argc, argv); }
