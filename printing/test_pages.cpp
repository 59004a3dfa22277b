#include "printing/test_pages.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace tillbay::printing {

namespace {

void line(DocumentWriter& w, std::string const& text)
{
    w.text(text);
    w.newline();
}

} // namespace

Result<Document> build_test_page(PrinterRecord const& printer)
{
    DocumentWriter w(printer, test_page_capacity, WithView::No);
    int columns = w.columns();
    w.start();
    w.align_center(true);
    w.big(true);
    line(w, "시험 인쇄");
    w.feed_dots(printer.biggap);
    w.big(false);
    w.align_center(false);
    w.rule('=');
    char text[128];
    std::snprintf(text, sizeof text, "용지폭 %dmm (%d글자)", printer.width, columns);
    line(w, text);
    std::snprintf(text, sizeof text, "한글코드 %d", printer.codepage);
    line(w, text);
    line(w, "한글 시험 — 가나다라마바사 아자차카타파하");
    w.rule('-');
    int ruler = std::min(columns, max_ruler_columns);
    std::string units;
    std::string tens;
    for (int i = 1; i <= ruler; ++i) {
        units.push_back(static_cast<char>('0' + i % 10));
        tens.push_back(i % 10 == 0 ? static_cast<char>('0' + (i / 10) % 10) : ' ');
    }
    line(w, units);
    line(w, tens);
    std::snprintf(text, sizeof text, "위 눈금이 %d 에서 끝나면 정상입니다", columns);
    line(w, text);
    w.left_right("왼쪽", "오른쪽");
    w.left_right("합계", "1,234,567");
    w.rule('=');
    line(w, "이 줄들의 끝이 종이 폭과 맞으면 정상입니다.");
    w.newline();
    w.newline();
    w.newline();
    w.cut();
    return w.finish("시험 인쇄");
}

Result<Document> build_spacing_sample(PrinterRecord const& printer)
{
    DocumentWriter w(printer, spacing_sample_capacity, WithView::No);
    w.command(escpos::initialise);
    w.align_center(true);
    line(w, "줄간격 견본");
    w.align_center(false);
    w.rule('-');
    line(w, "[줄간격 견본] 보기 좋은 번호를 고르십시오");
    for (int spacing : spacing_samples) {
        if (spacing == 0)
            w.command(escpos::default_spacing);
        else
            w.line_spacing(spacing);
        w.newline();
        line(w, spacing == 0 ? std::string("[기본] 보통 글씨 한 줄") : "[" + std::to_string(spacing) + "] 보통 글씨 한 줄");
        line(w, "     두 번째 줄 가나다라");
        line(w, "     세 번째 줄 1234567");
        w.big(true);
        line(w, "큰글씨 12,345");
        line(w, "큰글씨 67,890");
        w.big(false);
    }
    // The last sample has to clear the cutter before the paper is cut.
    w.command(escpos::default_spacing);
    w.newline();
    w.newline();
    w.newline();
    w.cut();
    return w.finish("줄간격 견본");
}

} // namespace tillbay::printing
