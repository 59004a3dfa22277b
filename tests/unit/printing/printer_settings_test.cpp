#include "printing/connection_address.h"
#include "printing/printer_settings.h"
#include "settings_file.h"

#include <gtest/gtest.h>

using namespace tillbay;
using namespace tillbay::printing;

namespace {

struct RecordCase {
    std::string printer_lines;
    int width, cols, linespacing, biggap, pin, drawer;
    bool cancel_receipt;
};

TEST(PrinterSettings, ReceiptRecordRules)
{
    std::vector<RecordCase> const cases {
        { "", 80, 0, 0, 10, 2, 1, true },
        { "width=58\r\n", 58, 0, 0, 10, 2, 1, true },
        { "width=72\r\n", 80, 0, 0, 10, 2, 1, true },
        { "cols=19\r\n", 80, 0, 0, 10, 2, 1, true },
        { "cols=20\r\n", 80, 20, 0, 10, 2, 1, true },
        { "cols=96\r\n", 80, 96, 0, 10, 2, 1, true },
        { "cols=97\r\n", 80, 0, 0, 10, 2, 1, true },
        { "linespacing=255\r\nbiggap=0\r\n", 80, 0, 255, 0, 2, 1, true },
        { "linespacing=256\r\nbiggap=101\r\n", 80, 0, 0, 10, 2, 1, true },
        { "linespacing=-1\r\nbiggap=-1\r\n", 80, 0, 0, 10, 2, 1, true },
        { "cancelreceipt=0\r\n", 80, 0, 0, 10, 2, 1, false },
        { "cancelreceipt=2\r\n", 80, 0, 0, 10, 2, 1, true },
    };
    for (auto const& c : cases) {
        test::SettingsFile file("[PRINTER]\r\n" + c.printer_lines);
        auto record = read_receipt_record();
        EXPECT_EQ(record.width, c.width) << c.printer_lines;
        EXPECT_EQ(record.cols, c.cols) << c.printer_lines;
        EXPECT_EQ(record.linespacing, c.linespacing) << c.printer_lines;
        EXPECT_EQ(record.biggap, c.biggap) << c.printer_lines;
        EXPECT_EQ(record.cancel_receipt, c.cancel_receipt) << c.printer_lines;
    }
    for (auto [pin, expected] : std::vector<std::pair<std::string, int>> { { "3", 2 }, { "5", 5 }, { "2", 2 }, { "x", 2 } }) {
        test::SettingsFile file("[DRAWER]\r\npin=" + pin + "\r\nenable=0\r\n");
        EXPECT_EQ(read_receipt_record().drawer_pin, expected) << pin;
        EXPECT_EQ(read_receipt_record().drawer_enable, 0);
    }
}

TEST(PrinterSettings, BuiltInValuesWithoutASettingsFile)
{
    paths::set_exe_dir_for_testing("/nonexistent-tillbay-folder/");
    auto record = read_receipt_record();
    paths::set_exe_dir_for_testing("");
    EXPECT_EQ(record.width, 80);
    EXPECT_EQ(record.cols, 0);
    EXPECT_EQ(record.biggap, 10);
    EXPECT_EQ(record.codepage, 949);
    EXPECT_EQ(record.cut, 1);
    EXPECT_EQ(record.drawer_enable, 1);
    EXPECT_EQ(record.drawer_pin, 2);
    EXPECT_TRUE(record.cancel_receipt);
    EXPECT_EQ(columns(record), 48);
    record.width = 58;
    EXPECT_EQ(columns(record), 32);
}

struct KitchenCase {
    std::string kitchen_lines;
    std::string connection;
    std::string name;
};

TEST(PrinterSettings, KitchenRecordFollowsTheReceiptPrinterUnlessToldOtherwise)
{
    std::string const printer = "[PRINTER]\r\nname=Counter\r\nconnection=tcp|192.168.0.50|9100\r\nwidth=58\r\n";
    std::vector<KitchenCase> const cases {
        { "", "tcp|192.168.0.50|9100", "Counter" },
        { "connection=inherit\r\nname=Kitchen\r\n", "tcp|192.168.0.50|9100", "Counter" },
        { "connection=tcp|192.168.0.60|9100\r\n", "tcp|192.168.0.60|9100", "Counter" },
        { "name=Kitchen\r\n", "", "Kitchen" },
        { "connection=legacy\r\nname=Kitchen\r\n", "", "Kitchen" },
        { "connection=legacy\r\n", "tcp|192.168.0.50|9100", "Counter" },
    };
    for (auto const& c : cases) {
        test::SettingsFile file(printer + "[KITCHEN]\r\n" + c.kitchen_lines);
        auto kitchen = read_kitchen_record();
        EXPECT_EQ(kitchen.record.connection, c.connection) << c.kitchen_lines;
        EXPECT_EQ(kitchen.record.name, c.name) << c.kitchen_lines;
        EXPECT_EQ(kitchen.record.drawer_enable, 0);
        EXPECT_EQ(kitchen.record.width, 58) << "the kitchen width defaults to the receipt printer's";
        EXPECT_FALSE(kitchen.auto_print);
    }
    test::SettingsFile file(printer + "[KITCHEN]\r\nwidth=80\r\ncols=97\r\nauto=1\r\ncodepage=936\r\n");
    auto kitchen = read_kitchen_record();
    EXPECT_EQ(kitchen.record.width, 80);
    EXPECT_EQ(kitchen.record.cols, 0);
    EXPECT_EQ(kitchen.record.codepage, 936);
    EXPECT_TRUE(kitchen.auto_print);
}

TEST(PrinterSettings, KitchenStyleIsClamped)
{
    test::SettingsFile file("[KITCHEN]\r\nfont=9\r\nwhen=0\r\ntop=-4\r\nszmemo=2\r\nbmemo=7\r\n");
    auto style = read_kitchen_style();
    EXPECT_EQ(style.font, 3);
    EXPECT_EQ(style.when, 0);
    EXPECT_EQ(style.top, 0);
    EXPECT_EQ(style.szmemo, 2);
    EXPECT_EQ(style.bmemo, 1);
    EXPECT_EQ(style.bottom, 1) << "a missing key keeps its default";
    EXPECT_EQ(style.bname, 1);
}

TEST(PrinterSettings, SavingAnAddress)
{
    test::SettingsFile file("[PRINTER]\r\nname=Counter\r\n");
    EXPECT_TRUE(save_address(SaveTarget::Receipt, "tcp|192.168.0.50|9100"));
    EXPECT_EQ(read_receipt_record().connection, "tcp|192.168.0.50|9100");
    EXPECT_FALSE(save_address(SaveTarget::Receipt, "inherit"));
    EXPECT_FALSE(save_address(SaveTarget::Receipt, "tcp|224.0.0.1|9100"));
    EXPECT_EQ(read_receipt_record().connection, "tcp|192.168.0.50|9100") << "a refused address writes nothing";
    EXPECT_TRUE(save_address(SaveTarget::Kitchen, "inherit"));
    std::string upper(64, 'A');
    EXPECT_TRUE(save_address(SaveTarget::Kitchen, "usb|" + upper));
    EXPECT_NE(file.read().find("usb|" + std::string(64, 'a')), std::string::npos) << file.read();
    EXPECT_TRUE(save_address(SaveTarget::Receipt, "legacy"));
    EXPECT_EQ(read_receipt_record().connection, "") << "\"legacy\" reads as no address";
}

} // namespace
