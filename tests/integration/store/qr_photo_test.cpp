// QR pictures read back by a QR reader (zbarimg), and photos through the real
// decoder: a sideways portrait comes out upright, large photos come out at
// 1280 pixels, transparency lies over white, and hostile or huge files are
// refused before they are decoded.

#include "foundation/json_text.h"
#include "foundation/qr_svg.h"
#include "os/image.h"
#include "os/qr.h"
#include "tests/integration/store/tools.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace tillbay;
using namespace tillbay::test;
using namespace std::string_literals;

namespace {

std::vector<std::string> lines(std::string const& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string zbarimg(std::vector<std::filesystem::path> const& files)
{
    // zbarimg talks to D-Bus on its own account; only its findings count.
    std::string command = "zbarimg --raw -q";
    for (auto const& file : files)
        command += " " + shell_quoted(file);
    auto result = run(command, Streams::OutputOnly);
    EXPECT_EQ(result.status, 0) << result.text;
    return result.text;
}

TEST(QrPictures, TwelveTableLinksReadBack)
{
    ScratchDir dir("qr");
    std::vector<std::filesystem::path> files;
    std::vector<std::string> links;
    for (int table = 1; table <= 12; ++table) {
        links.push_back("https://shop.example.com/order?store=7&table=" + std::to_string(table));
        auto matrix = os::qr::encode(links.back(), os::qr::Level::Quartile);
        ASSERT_TRUE(matrix.ok()) << matrix.error().detail;
        auto png = os::qr::png(matrix.value(), 8);
        ASSERT_TRUE(png.ok()) << png.error().detail;
        ASSERT_TRUE(png.value().starts_with("\x89PNG\r\n\x1A\n"));
        files.push_back(dir / (std::to_string(table) + "번.png"));
        spill(files.back(), png.value());
    }
    EXPECT_EQ(lines(zbarimg(files)), links);
}

TEST(QrPictures, EveryLevelAndALongTextReadBack)
{
    ScratchDir dir("qr");
    std::string long_text = "https://shop.example.com/pair?token=";
    while (long_text.size() < 900)
        long_text += "0123456789abcdef";
    std::pair<std::string, os::qr::Level> const codes[] = {
        { "TILLBAY", os::qr::Level::Low },
        { "https://shop.example.com/p/1", os::qr::Level::Medium },
        { "1234567890", os::qr::Level::High },
        { long_text, os::qr::Level::Low },
    };
    std::vector<std::filesystem::path> files;
    std::vector<std::string> texts;
    int previous_size = 0;
    for (auto const& [text, level] : codes) {
        auto matrix = os::qr::encode(text, level);
        ASSERT_TRUE(matrix.ok()) << text;
        EXPECT_EQ(matrix.value().modules.size(), static_cast<size_t>(matrix.value().size * matrix.value().size));
        if (text == long_text) {
            EXPECT_GT(matrix.value().size, previous_size);
        }
        previous_size = matrix.value().size;
        files.push_back(dir / ("code" + std::to_string(files.size()) + ".png"));
        spill(files.back(), os::qr::png(matrix.value(), 4).value());
        texts.push_back(text);
    }
    EXPECT_EQ(lines(zbarimg(files)), texts);
}

TEST(QrPictures, TheSvgAPageShowsReadsBackToo)
{
    ScratchDir dir("qr");
    std::string link = "https://shop.example.com/tablet/pair?code=482913";
    auto matrix = os::qr::encode(link, os::qr::Level::Medium);
    ASSERT_TRUE(matrix.ok());
    std::string url = qr_svg::data_url(matrix.value());
    auto svg = json::base64_decode(url.substr(url.find(',') + 1));
    ASSERT_TRUE(svg);
    spill(dir / "code.svg", *svg);
    // Drawn by librsvg, as a browser would draw it, then read.
    GError* error = nullptr;
    GdkPixbuf* drawn = gdk_pixbuf_new_from_file_at_size((dir / "code.svg").c_str(), 400, 400, &error);
    ASSERT_TRUE(drawn) << (error ? error->message : "");
    ASSERT_TRUE(gdk_pixbuf_save(drawn, (dir / "code.png").c_str(), "png", &error, nullptr));
    g_object_unref(drawn);
    EXPECT_EQ(zbarimg({ dir / "code.png" }), link + "\n");
}

TEST(QrPictures, RefusalsCarryTheirMessages)
{
    EXPECT_EQ(os::qr::encode("", os::qr::Level::Low).error().message, os::qr::text::empty_text);
    EXPECT_EQ(os::qr::encode(std::string(os::qr::max_text_bytes + 1, 'a'), os::qr::Level::Low).error().message,
        os::qr::text::too_long);
    // Fits at Low, not at High.
    std::string binary(os::qr::max_text_bytes, '\xEA');
    EXPECT_TRUE(os::qr::encode(binary, os::qr::Level::Low).ok());
    EXPECT_EQ(os::qr::encode(binary, os::qr::Level::High).error().message, os::qr::text::too_long);
    auto matrix = os::qr::encode(binary, os::qr::Level::Low).value();
    EXPECT_EQ(matrix.size, 177);
    EXPECT_EQ(os::qr::png(matrix, 30).error().message, os::qr::text::picture_too_large);
}

// A JPEG with an EXIF block holding only the orientation tag, put right after
// the start-of-image marker, as cameras and phones do.
std::string with_orientation(std::string const& jpeg, int orientation)
{
    std::string tiff = "II*\0\x08\0\0\0"s           // little-endian TIFF header, first directory at 8
                       "\x01\0"s                    // one entry
                       "\x12\x01\x03\0\x01\0\0\0"s // tag 274 (orientation), SHORT, count 1
        + std::string(1, static_cast<char>(orientation)) + "\0\0\0"s + "\0\0\0\0"s; // value, next directory none
    std::string exif = "Exif\0\0"s + tiff;
    size_t length = exif.size() + 2;
    std::string segment = "\xFF\xE1"s + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + exif;
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

struct Rgb {
    int r, g, b;
};

Rgb pixel_at(GdkPixbuf* picture, int x, int y)
{
    guchar const* p = gdk_pixbuf_read_pixels(picture) + y * gdk_pixbuf_get_rowstride(picture)
        + x * gdk_pixbuf_get_n_channels(picture);
    return { p[0], p[1], p[2] };
}

bool near(Rgb a, Rgb b) { return std::abs(a.r - b.r) < 40 && std::abs(a.g - b.g) < 40 && std::abs(a.b - b.b) < 40; }

class Photos : public ::testing::Test {
protected:
    // A picture made by ImageMagick: its left half red, its right half blue.
    std::filesystem::path red_blue_jpeg(int width, int height, std::string const& name)
    {
        auto path = m_dir / name;
        auto result = run("convert -size " + std::to_string(width / 2) + "x" + std::to_string(height) + " xc:red -size "
            + std::to_string(width / 2) + "x" + std::to_string(height) + " xc:blue +append -quality 92 " + shell_quoted(path));
        EXPECT_EQ(result.status, 0) << result.text;
        return path;
    }

    GdkPixbuf* open(std::filesystem::path const& path)
    {
        GError* error = nullptr;
        GdkPixbuf* picture = gdk_pixbuf_new_from_file(path.c_str(), &error);
        EXPECT_TRUE(picture) << (error ? error->message : "");
        return picture;
    }

    ScratchDir m_dir { "photo" };
    ScratchDir m_temp { "phototemp" };
};

TEST_F(Photos, SidewaysPortraitComesOutUprightAt1280)
{
    auto stored = red_blue_jpeg(4000, 3000, "stored.jpg");
    auto sideways = m_dir / "sideways.jpg";
    spill(sideways, with_orientation(slurp(stored), 6));
    // The block is real EXIF: another program reads the same orientation.
    EXPECT_EQ(run("identify -format '%[orientation]' " + shell_quoted(sideways)).text, "RightTop");

    std::string prepared_path;
    {
        auto photo = os::image::prepare_photo(sideways, m_temp.path());
        ASSERT_TRUE(photo.ok()) << photo.error().message << " " << photo.error().detail;
        prepared_path = photo.value().file.path();
        EXPECT_EQ(photo.value().width, 960);
        EXPECT_EQ(photo.value().height, 1280);
        EXPECT_EQ(photo.value().bytes, static_cast<long long>(std::filesystem::file_size(prepared_path)));
        EXPECT_TRUE(std::filesystem::path(prepared_path).filename().string().starts_with("tillbay_photo_"));
        GdkPixbuf* out = open(prepared_path);
        ASSERT_TRUE(out);
        EXPECT_EQ(gdk_pixbuf_get_width(out), 960);
        EXPECT_EQ(gdk_pixbuf_get_height(out), 1280);
        // Turned a quarter clockwise: the stored left (red) is now the top.
        EXPECT_TRUE(near(pixel_at(out, 480, 100), { 255, 0, 0 }));
        EXPECT_TRUE(near(pixel_at(out, 480, 1180), { 0, 0, 255 }));
        g_object_unref(out);
    }
    // The temporary JPEG went with the prepared photo.
    EXPECT_FALSE(std::filesystem::exists(prepared_path));
    EXPECT_TRUE(std::filesystem::is_empty(m_temp.path()));
}

TEST_F(Photos, LandscapeScalesTo1280x960AndSmallOnesKeepTheirSize)
{
    auto big = os::image::prepare_photo(red_blue_jpeg(4000, 3000, "big.jpg"), m_temp.path());
    ASSERT_TRUE(big.ok()) << big.error().detail;
    EXPECT_EQ(big.value().width, 1280);
    EXPECT_EQ(big.value().height, 960);
    GdkPixbuf* out = open(big.value().file.path());
    ASSERT_TRUE(out);
    EXPECT_TRUE(near(pixel_at(out, 100, 480), { 255, 0, 0 }));
    EXPECT_TRUE(near(pixel_at(out, 1180, 480), { 0, 0, 255 }));
    g_object_unref(out);

    auto small = os::image::prepare_photo(red_blue_jpeg(640, 480, "small.jpg"), m_temp.path());
    ASSERT_TRUE(small.ok());
    EXPECT_EQ(small.value().width, 640);
    EXPECT_EQ(small.value().height, 480);
    // Two prepared photos at once never share a file.
    EXPECT_NE(small.value().file.path(), big.value().file.path());
}

TEST_F(Photos, TransparencyLiesOverWhite)
{
    auto path = m_dir / "half.png";
    auto result = run("convert -size 100x100 xc:none -size 100x100 xc:'#00C000' +append " + shell_quoted(path));
    ASSERT_EQ(result.status, 0) << result.text;
    auto photo = os::image::prepare_photo(path, m_temp.path());
    ASSERT_TRUE(photo.ok()) << photo.error().detail;
    GdkPixbuf* out = open(photo.value().file.path());
    ASSERT_TRUE(out);
    EXPECT_FALSE(gdk_pixbuf_get_has_alpha(out));
    EXPECT_TRUE(near(pixel_at(out, 40, 50), { 255, 255, 255 }));
    EXPECT_TRUE(near(pixel_at(out, 160, 50), { 0, 192, 0 }));
    g_object_unref(out);
}

TEST_F(Photos, PreviewIsAnUpright96PixelJpeg)
{
    auto sideways = m_dir / "sideways.jpg";
    spill(sideways, with_orientation(slurp(red_blue_jpeg(400, 300, "stored.jpg")), 6));
    auto url = os::image::preview_data_url(sideways);
    ASSERT_TRUE(url.ok()) << url.error().detail;
    std::string const prefix = "data:image/jpeg;base64,";
    ASSERT_TRUE(url.value().starts_with(prefix));
    auto jpeg = json::base64_decode(url.value().substr(prefix.size()));
    ASSERT_TRUE(jpeg);
    spill(m_dir / "preview.jpg", *jpeg);
    GdkPixbuf* preview = open(m_dir / "preview.jpg");
    ASSERT_TRUE(preview);
    EXPECT_EQ(gdk_pixbuf_get_width(preview), 72);
    EXPECT_EQ(gdk_pixbuf_get_height(preview), 96);
    EXPECT_TRUE(near(pixel_at(preview, 36, 10), { 255, 0, 0 }));
    g_object_unref(preview);
}

// One PNG chunk: length, type, data, CRC-32 of type and data.
std::string png_chunk(std::string const& type, std::string const& data)
{
    std::string out;
    auto put32 = [&out](uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<char>((value >> shift) & 0xFF));
    };
    put32(static_cast<uint32_t>(data.size()));
    std::string body = type + data;
    out += body;
    put32(static_cast<uint32_t>(crc32(0, reinterpret_cast<Bytef const*>(body.data()), static_cast<uInt>(body.size()))));
    return out;
}

// A PNG that claims width x height pixels: the signature, a well-formed
// header chunk and the start of an image data chunk, where decoders learn the
// size; nothing behind it to decode.
std::string png_claiming(uint32_t width, uint32_t height)
{
    std::string header;
    for (uint32_t value : { width, height }) {
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
    header += "\x08\x02\x00\x00\x00"s; // 8-bit RGB, no interlace
    return "\x89PNG\r\n\x1A\n"s + png_chunk("IHDR", header) + png_chunk("IDAT", "\x78\x9C\x63\x00"s);
}

TEST_F(Photos, HostileAndHugeFilesAreRefusedBeforeDecoding)
{
    auto text = m_dir / "menu.jpg";
    spill(text, "이건 사진이 아닙니다");
    auto svg = m_dir / "logo.png";
    spill(svg, R"(<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"/>)");
    auto bomb = m_dir / "bomb.png";
    spill(bomb, png_claiming(16'000, 16'000));
    auto wide = m_dir / "wide.png";
    spill(wide, png_claiming(20'000, 10));
    auto huge = m_dir / "huge.jpg";
    spill(huge, "\xFF\xD8\xFF");
    std::filesystem::resize_file(huge, os::image::max_file_bytes + 1);

    std::pair<std::filesystem::path, char const*> const cases[] = {
        { m_dir / "missing.jpg", os::image::text::cannot_open },
        { text, os::image::text::not_a_picture },
        { svg, os::image::text::not_a_picture },
        { bomb, os::image::text::too_many_pixels },
        { wide, os::image::text::too_many_pixels },
        { huge, os::image::text::file_too_large },
    };
    for (auto const& [path, message] : cases) {
        auto photo = os::image::prepare_photo(path, m_temp.path());
        ASSERT_FALSE(photo.ok()) << path;
        EXPECT_EQ(photo.error().message, message) << path << ": " << photo.error().detail;
        auto preview = os::image::preview_data_url(path);
        ASSERT_FALSE(preview.ok()) << path;
        EXPECT_EQ(preview.error().message, message) << path;
    }
    EXPECT_TRUE(std::filesystem::is_empty(m_temp.path()));
}

} // namespace
