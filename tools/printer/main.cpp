// tillbay-printer: a virtual ESC/POS receipt printer for the demo and the
// tests. It listens on TCP like a LAN receipt printer (port 9100), stores
// each job with a decoded text and an HTML preview, and can decode a dump
// file written by the POS (TILLBAY_PRINT_DUMP) without any network.

#include "os/fs.h"
#include "tools/printer/escpos_decoder.h"
#include "tools/printer/printer_server.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

using namespace tillbay;

namespace {

void usage(FILE* to)
{
    fputs("사용법: tillbay-printer [--port N] [--bind ADDR] [--jobs DIR] [--idle-ms N]\n"
          "                       [--refuse | --stop-after N [--hold-ms N] | --close-early N]\n"
          "                       [--columns N] [--encoding NAME] [--report STATE] [--report-file FILE]\n"
          "       tillbay-printer --decode FILE | --decode-dump [--format text|html] [--jobs DIR]\n"
          "\n"
          "  --port N          받을 포트 (기본 9100, 0 이면 빈 포트를 골라 알려 줍니다)\n"
          "  --bind ADDR       받을 주소 (기본 127.0.0.1)\n"
          "  --jobs DIR        작업을 NNNN.bin, NNNN.txt, NNNN.html 로 저장할 폴더 (기본 jobs)\n"
          "  --idle-ms N       이만큼 아무것도 오지 않으면 작업 하나가 끝납니다 (기본 5000)\n"
          "  --refuse          연결을 모두 거절합니다\n"
          "  --stop-after N    연결마다 N 바이트를 받은 뒤 더 읽지 않습니다\n"
          "  --hold-ms N       읽지 않는 연결을 열어 두는 시간 (기본 30000)\n"
          "  --close-early N   연결마다 N 바이트를 받은 뒤 연결을 끊습니다\n"
          "  --columns N       미리보기 한 줄의 글자 수 (기본 48, 58mm 용지는 32)\n"
          "  --encoding NAME   프린터 코드 페이지 (기본 CP949)\n"
          "  --report STATE    상태 질의(DLE EOT)에 답할 상태: ok, near-end, paper-out, cover-open, offline (기본 ok)\n"
          "  --report-file FILE  이 파일의 첫 낱말이 있으면 질의마다 그 상태로 답합니다\n"
          "  --decode FILE     덤프 파일을 풀어 표준 출력으로 보냅니다\n"
          "  --decode-dump     TILLBAY_PRINT_DUMP 의 덤프 파일을 풉니다\n"
          "  --format FORMAT   풀어 낸 결과의 형식: text 또는 html (기본 text)\n",
        to);
}

bool parse_number(char const* text, long long minimum, long long maximum, long long& out)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    errno = 0;
    long long value = strtoll(text, &end, 10);
    if (errno || *end || value < minimum || value > maximum)
        return false;
    out = value;
    return true;
}

int decode_file(std::string const& path, std::string const& format, printer::ServerOptions const& options, bool store)
{
    auto bytes = os::read_file(path, printer::max_job_bytes);
    if (!bytes.ok()) {
        fprintf(stderr, "tillbay-printer: 덤프 파일을 읽지 못했습니다: %s (%s)\n", path.c_str(), bytes.error().detail.c_str());
        return 1;
    }
    printer::DecodeOptions decode_options;
    decode_options.encoding = options.encoding;
    auto events = printer::decode(bytes.value(), decode_options);
    std::string out;
    if (format == "html") {
        printer::HtmlOptions html_options;
        html_options.columns = options.columns;
        out = printer::render_html(events, html_options);
    } else {
        out = printer::render_text(events);
    }
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
    if (store) {
        auto jobs = printer::JobStore::create(options.jobs_dir, options.encoding, options.columns);
        if (!jobs.ok()) {
            fprintf(stderr, "tillbay-printer: 작업 폴더를 쓸 수 없습니다: %s\n", jobs.error().detail.c_str());
            return 1;
        }
        auto number = jobs.value().store(bytes.value());
        if (!number.ok()) {
            fprintf(stderr, "tillbay-printer: 작업을 저장하지 못했습니다: %s\n", number.error().detail.c_str());
            return 1;
        }
        fprintf(stderr, "job %s: %zu bytes from %s\n", printer::job_name(number.value()).c_str(), bytes.value().size(), path.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    printer::ServerOptions options;
    std::string decode_path;
    std::string format = "text";
    bool decode = false;
    bool jobs_given = false;

    for (int i = 1; i < argc; ++i) {
        std::string_view flag = argv[i];
        char const* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long long number = 0;
        auto numeric = [&](long long minimum, long long maximum) {
            if (!parse_number(value, minimum, maximum, number)) {
                fprintf(stderr, "tillbay-printer: %s 에는 %lld 에서 %lld 사이의 숫자가 필요합니다\n", argv[i], minimum, maximum);
                exit(2);
            }
            ++i;
            return number;
        };
        auto text = [&]() {
            if (!value) {
                fprintf(stderr, "tillbay-printer: %s 에는 값이 필요합니다\n", argv[i]);
                exit(2);
            }
            ++i;
            return std::string(value);
        };
        if (flag == "--port")
            options.port = static_cast<int>(numeric(0, 65535));
        else if (flag == "--bind")
            options.bind_address = text();
        else if (flag == "--jobs") {
            options.jobs_dir = text();
            jobs_given = true;
        }
        else if (flag == "--refuse")
            options.refuse = true;
        else if (flag == "--stop-after")
            options.stop_after = numeric(0, 1LL << 40);
        else if (flag == "--close-early")
            options.close_early = numeric(0, 1LL << 40);
        else if (flag == "--idle-ms")
            options.idle_ms = static_cast<int>(numeric(1, 3600000));
        else if (flag == "--hold-ms")
            options.hold_ms = static_cast<int>(numeric(0, 3600000));
        else if (flag == "--columns")
            options.columns = static_cast<int>(numeric(16, 80));
        else if (flag == "--encoding")
            options.encoding = text();
        else if (flag == "--report") {
            options.report = text();
            if (!printer::paper_report(options.report)) {
                fprintf(stderr, "tillbay-printer: --report 는 ok, near-end, paper-out, cover-open, offline 중 하나입니다\n");
                return 2;
            }
        } else if (flag == "--report-file")
            options.report_file = text();
        else if (flag == "--decode") {
            decode_path = text();
            decode = true;
        } else if (flag == "--decode-dump") {
            // The file the POS appends every document to instead of printing.
            char const* dump = getenv("TILLBAY_PRINT_DUMP");
            if (!dump || !*dump) {
                fprintf(stderr, "tillbay-printer: TILLBAY_PRINT_DUMP 가 정해져 있지 않습니다\n");
                return 2;
            }
            decode_path = dump;
            decode = true;
        }
        else if (flag == "--format")
            format = text();
        else if (flag == "--help" || flag == "-h") {
            usage(stdout);
            return 0;
        } else {
            fprintf(stderr, "tillbay-printer: 알 수 없는 옵션입니다: %s\n", argv[i]);
            usage(stderr);
            return 2;
        }
    }
    if (format != "text" && format != "html") {
        fprintf(stderr, "tillbay-printer: --format 은 text 또는 html 입니다\n");
        return 2;
    }
    if ((options.refuse ? 1 : 0) + (options.stop_after >= 0 ? 1 : 0) + (options.close_early >= 0 ? 1 : 0) > 1) {
        fprintf(stderr, "tillbay-printer: 고장 흉내는 하나만 고를 수 있습니다\n");
        return 2;
    }
    if (decode)
        return decode_file(decode_path, format, options, jobs_given);
    return printer::run_server(options);
}
