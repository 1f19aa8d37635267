// Pictures of pages with cairo.
#include "page_picture.hpp"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

#include "text.hpp"
#include "zvapi/zv_file_space.hpp"

namespace zvhost {

namespace {

using wf::ControlKind;
using wf::ControlState;

constexpr double kScale = kPixelsPerDialogUnit;
constexpr double kPi = 3.14159265358979323846;
constexpr double kFontSize = 12.0;      // the dialog font, at two pixels per dialog unit
constexpr double kLineHeight = 16.0;    // one line of text: eight dialog units
constexpr size_t kMaxTextBytes = 2048;  // more than any control can show
constexpr int kMaxLines = 256;          // lines of one static or list drawn at most

struct Colour {
    double r, g, b;
};
constexpr Colour kFace{0.94, 0.94, 0.94};
constexpr Colour kInk{0.0, 0.0, 0.0};
constexpr Colour kGreyInk{0.62, 0.62, 0.62};
constexpr Colour kWhite{1.0, 1.0, 1.0};
constexpr Colour kBorder{0.48, 0.48, 0.48};
constexpr Colour kFrame{0.74, 0.74, 0.74};
constexpr Colour kButtonFace{0.88, 0.88, 0.88};
constexpr Colour kButtonBorder{0.68, 0.68, 0.68};
constexpr Colour kHighlight{0.0, 0.47, 0.84};
constexpr Colour kTrack{0.84, 0.84, 0.84};

void Set(cairo_t* cr, const Colour& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

struct Box {
    double x, y, w, h;
};

Box PixelsOf(const wf::Rect& r) { return {r.x * kScale, r.y * kScale, r.width * kScale, r.height * kScale}; }

// Text as cairo takes it: valid UTF-8 ("?" for bytes that are not), control
// characters as blanks (line ends kept when `lines` is set), at most
// kMaxTextBytes.
std::string Printable(const std::string& text, bool lines = false) {
    std::string out;
    for (size_t i = 0; i < text.size() && out.size() < kMaxTextBytes;) {
        const size_t n = Utf8SequenceLength(text, i);
        if (n == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (n == 1 && (c < 0x20 || c == 0x7F)) {
            out.push_back(lines && c == '\n' ? '\n' : ' ');
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out;
}

void Font(cairo_t* cr, bool monospace = false) {
    cairo_select_font_face(cr, monospace ? "Monospace" : "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, kFontSize);
}

double Width(cairo_t* cr, const std::string& text) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    return e.x_advance;
}

// The baseline that centres a line of text in a box of height `h` at `y`.
double CentredBaseline(cairo_t* cr, double y, double h) {
    cairo_font_extents_t f;
    cairo_font_extents(cr, &f);
    return y + h / 2 + (f.ascent - f.descent) / 2;
}

double TopBaseline(cairo_t* cr, double y) {
    cairo_font_extents_t f;
    cairo_font_extents(cr, &f);
    return y + f.ascent;
}

void ShowText(cairo_t* cr, double x, double baseline, const std::string& text) {
    cairo_move_to(cr, x, baseline);
    cairo_show_text(cr, text.c_str());
    cairo_new_path(cr);
}

// Greedy word wrap into lines no wider than `width`; a word wider than the
// line keeps a line of its own. Line ends in the text start new lines.
std::vector<std::string> Wrap(cairo_t* cr, const std::string& text, double width) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size() && static_cast<int>(lines.size()) < kMaxLines) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string paragraph = text.substr(start, end - start);
        std::string line;
        size_t at = 0;
        while (at < paragraph.size() && static_cast<int>(lines.size()) < kMaxLines) {
            const size_t space = std::min(paragraph.find(' ', at), paragraph.size());
            const std::string word = paragraph.substr(at, space - at);
            const std::string candidate = line.empty() ? word : line + " " + word;
            if (!line.empty() && Width(cr, candidate) > width) {
                lines.push_back(line);
                line = word;
            } else {
                line = candidate;
            }
            at = space + 1;
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void Frame(cairo_t* cr, const Box& b, const Colour& fill, const Colour& border) {
    Set(cr, fill);
    cairo_rectangle(cr, b.x, b.y, b.w, b.h);
    cairo_fill(cr);
    Set(cr, border);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, b.x + 0.5, b.y + 0.5, std::max(b.w - 1, 0.0), std::max(b.h - 1, 0.0));
    cairo_stroke(cr);
}

void Clip(cairo_t* cr, const Box& b) {
    cairo_rectangle(cr, b.x, b.y, b.w, b.h);
    cairo_clip(cr);
}

void DrawStatic(cairo_t* cr, const ControlState& c, const Box& b, const Colour& ink) {
    Font(cr);
    Set(cr, ink);
    double baseline = TopBaseline(cr, b.y);
    for (const std::string& line : Wrap(cr, Printable(c.text, true), b.w)) {
        if (baseline - kLineHeight > b.y + b.h) break;
        double x = b.x;
        if (c.style & wf::kStyleRight) x = b.x + b.w - Width(cr, line);
        if (c.style & wf::kStyleCenter) x = b.x + (b.w - Width(cr, line)) / 2;
        ShowText(cr, x, baseline, line);
        baseline += kLineHeight;
    }
}

void DrawGroupBox(cairo_t* cr, const ControlState& c, const Box& b, const Colour& ink) {
    const double top = b.y + kLineHeight / 2;
    Set(cr, kFrame);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, b.x + 0.5, top + 0.5, std::max(b.w - 1, 0.0), std::max(b.y + b.h - top - 1, 0.0));
    cairo_stroke(cr);
    const std::string title = Printable(c.text);
    if (title.empty()) return;
    Font(cr);
    const double width = std::min(Width(cr, title), std::max(b.w - 20, 0.0));
    Set(cr, kFace);
    cairo_rectangle(cr, b.x + 6, b.y, width + 8, kLineHeight);
    cairo_fill(cr);
    cairo_save(cr);
    Clip(cr, {b.x + 6, b.y, width + 8, kLineHeight});
    Set(cr, ink);
    ShowText(cr, b.x + 10, CentredBaseline(cr, b.y, kLineHeight), title);
    cairo_restore(cr);
}

void DrawEdit(cairo_t* cr, const ControlState& c, const Box& b, const Colour& ink) {
    Frame(cr, b, c.enabled ? kWhite : kFace, kBorder);
    cairo_save(cr);
    Clip(cr, {b.x + 2, b.y + 1, b.w - 4, b.h - 2});
    Font(cr);
    Set(cr, ink);
    ShowText(cr, b.x + 4, CentredBaseline(cr, b.y, std::min(b.h, kLineHeight + 8)), Printable(c.text));
    cairo_restore(cr);
}

// A drop-down list or combo, closed: its text and the arrow button.
void DrawDropDown(cairo_t* cr, const ControlState& c, const Box& b, const Colour& ink) {
    const double height = std::min(b.h, kLineHeight + 12);  // the closed box; the rest is the dropped list
    const Box box{b.x, b.y, b.w, height};
    Frame(cr, box, c.enabled ? kWhite : kFace, kBorder);
    const double button = std::min(18.0, b.w / 2);
    Frame(cr, {b.x + b.w - button, b.y, button, height}, kButtonFace, kBorder);
    const double cx = b.x + b.w - button / 2;
    const double cy = b.y + height / 2;
    Set(cr, ink);
    cairo_move_to(cr, cx - 4, cy - 2);
    cairo_line_to(cr, cx + 4, cy - 2);
    cairo_line_to(cr, cx, cy + 3);
    cairo_close_path(cr);
    cairo_fill(cr);
    std::string text = c.text;
    if (c.kind == ControlKind::DropDownList) {
        text = c.selection >= 0 && c.selection < static_cast<int32_t>(c.items.size()) ? c.items[c.selection] : "";
    }
    cairo_save(cr);
    Clip(cr, {b.x + 2, b.y + 1, b.w - button - 3, height - 2});
    Font(cr);
    Set(cr, ink);
    ShowText(cr, b.x + 4, CentredBaseline(cr, b.y, height), Printable(text));
    cairo_restore(cr);
}

void DrawListBox(cairo_t* cr, const ControlState& c, const Box& b, const Colour& ink) {
    Frame(cr, b, c.enabled ? kWhite : kFace, kBorder);
    const auto count = static_cast<int64_t>(c.items.size());
    const int64_t visible = std::max<int64_t>(1, static_cast<int64_t>((b.h - 4) / kLineHeight));
    // The list shows its selection, as a list scrolled to it would.
    int64_t top = 0;
    if (c.selection >= visible && c.selection < count) top = c.selection - visible + 1;
    const bool scrolls = count > visible;
    const double scrollbar = scrolls ? std::min(14.0, b.w / 3) : 0;
    if (scrolls) {
        const Box track{b.x + b.w - scrollbar - 1, b.y + 1, scrollbar, b.h - 2};
        Set(cr, kFace);
        cairo_rectangle(cr, track.x, track.y, track.w, track.h);
        cairo_fill(cr);
        const double length = std::max(8.0, track.h * static_cast<double>(visible) / static_cast<double>(count));
        const double at = track.y + (track.h - length) * static_cast<double>(top) /
                                        static_cast<double>(std::max<int64_t>(1, count - visible));
        Set(cr, kButtonBorder);
        cairo_rectangle(cr, track.x + 2, at, track.w - 4, length);
        cairo_fill(cr);
    }
    cairo_save(cr);
    Clip(cr, {b.x + 1, b.y + 1, b.w - 2 - scrollbar, b.h - 2});
    Font(cr, true);  // list lines are often laid out in columns
    for (int64_t i = top; i < count && i <= top + visible && i - top < kMaxLines; ++i) {
        const double y = b.y + 2 + static_cast<double>(i - top) * kLineHeight;
        if (i == c.selection) {
            Set(cr, c.enabled ? kHighlight : kGreyInk);
            cairo_rectangle(cr, b.x + 1, y, b.w - 2 - scrollbar, kLineHeight);
            cairo_fill(cr);
            Set(cr, kWhite);
        } else {
            Set(cr, ink);
        }
        ShowText(cr, b.x + 4, CentredBaseline(cr, y, kLineHeight), Printable(c.items[i]));
    }
    cairo_restore(cr);
}

void DrawPushButton(cairo_t* cr, const ControlState& c, const Box& b, const Colour& ink) {
    const bool isDefault = (c.style & wf::kStyleDefault) != 0 && c.enabled;
    Frame(cr, b, kButtonFace, isDefault ? kHighlight : c.enabled ? kButtonBorder : kFrame);
    cairo_save(cr);
    Clip(cr, {b.x + 2, b.y + 1, b.w - 4, b.h - 2});
    Font(cr);
    Set(cr, ink);
    const std::string text = Printable(c.text);
    ShowText(cr, b.x + (b.w - Width(cr, text)) / 2, CentredBaseline(cr, b.y, b.h), text);
    cairo_restore(cr);
}

// Check boxes and radio buttons: the mark beside the text.
void DrawMarked(cairo_t* cr, const ControlState& c, const Box& b, const Colour& ink) {
    constexpr double kMark = 13;
    const bool textLeft = (c.style & wf::kStyleTextLeft) != 0;
    const double mx = textLeft ? b.x + b.w - kMark : b.x;
    const double my = b.y + (b.h - kMark) / 2;
    const Colour border = c.enabled ? Colour{0.2, 0.2, 0.2} : kGreyInk;
    cairo_set_line_width(cr, 1);
    if (c.kind == ControlKind::RadioButton) {
        const double cx = mx + kMark / 2, cy = my + kMark / 2;
        cairo_new_sub_path(cr);
        cairo_arc(cr, cx, cy, kMark / 2 - 0.5, 0, 2 * kPi);
        Set(cr, c.enabled ? kWhite : kFace);
        cairo_fill_preserve(cr);
        Set(cr, border);
        cairo_stroke(cr);
        if (c.checked) {
            cairo_arc(cr, cx, cy, 3.5, 0, 2 * kPi);
            Set(cr, ink);
            cairo_fill(cr);
        }
    } else {
        Frame(cr, {mx, my, kMark, kMark}, c.enabled ? kWhite : kFace, border);
        if (c.checked) {
            Set(cr, ink);
            cairo_set_line_width(cr, 2);
            cairo_move_to(cr, mx + 3, my + 6.5);
            cairo_line_to(cr, mx + 5.5, my + 9.5);
            cairo_line_to(cr, mx + 10, my + 3.5);
            cairo_stroke(cr);
        }
    }
    const double tx = textLeft ? b.x : b.x + kMark + 5;
    cairo_save(cr);
    Clip(cr, {tx, b.y, b.w - kMark - 5, b.h});
    Font(cr);
    Set(cr, ink);
    ShowText(cr, tx, CentredBaseline(cr, b.y, b.h), Printable(c.text));
    cairo_restore(cr);
}

void DrawSlider(cairo_t* cr, const ControlState& c, const Box& b) {
    const bool ticks = (c.style & wf::kStyleTicks) != 0 || !c.tics.empty();
    const double left = b.x + 8;
    const double width = std::max(b.w - 16, 1.0);
    const double trackY = ticks ? b.y + b.h * 0.4 : b.y + b.h / 2;
    const double span = static_cast<double>(c.rangeMax) - static_cast<double>(c.rangeMin);
    auto at = [&](int32_t value) {
        const double f = span > 0 ? (static_cast<double>(value) - c.rangeMin) / span : 0.0;
        return left + std::clamp(f, 0.0, 1.0) * width;
    };
    Frame(cr, {left, trackY - 2, width, 4}, kTrack, kFrame);
    if (ticks) {
        Set(cr, kBorder);
        cairo_set_line_width(cr, 1);
        std::vector<int32_t> marks = {c.rangeMin, c.rangeMax};
        // A tick per pixel column at most: more could not be told apart.
        if (c.tics.size() <= static_cast<size_t>(width)) marks.insert(marks.end(), c.tics.begin(), c.tics.end());
        for (int32_t value : marks) {
            const double x = std::round(at(value)) + 0.5;
            cairo_move_to(cr, x, trackY + 11);
            cairo_line_to(cr, x, trackY + 15);
        }
        cairo_stroke(cr);
    }
    const double x = at(c.position);
    Set(cr, c.enabled ? kHighlight : kGreyInk);
    cairo_rectangle(cr, x - 5, trackY - 10, 10, 20);
    cairo_fill(cr);
}

void DrawControl(cairo_t* cr, const ControlState& c) {
    const Box b = PixelsOf(c.rect);
    if (!(b.w > 0) || !(b.h > 0)) return;
    const Colour ink = c.enabled ? kInk : kGreyInk;
    cairo_save(cr);
    Clip(cr, b);
    switch (c.kind) {
        case ControlKind::Static: DrawStatic(cr, c, b, ink); break;
        case ControlKind::GroupBox: DrawGroupBox(cr, c, b, ink); break;
        case ControlKind::Edit: DrawEdit(cr, c, b, ink); break;
        case ControlKind::DropDownList:
        case ControlKind::DropDownCombo: DrawDropDown(cr, c, b, ink); break;
        case ControlKind::ListBox: DrawListBox(cr, c, b, ink); break;
        case ControlKind::PushButton: DrawPushButton(cr, c, b, ink); break;
        case ControlKind::CheckBox:
        case ControlKind::RadioButton: DrawMarked(cr, c, b, ink); break;
        case ControlKind::Slider: DrawSlider(cr, c, b); break;
    }
    cairo_restore(cr);
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

void PagePictureSize(const wf::DialogState& dialog, int* width, int* height) {
    int64_t w = dialog.rect.width;
    int64_t h = dialog.rect.height;
    if (w <= 0 || h <= 0) {
        // A dialog of no size: as far as its controls reach.
        for (const ControlState& c : dialog.controls) {
            if (w <= 0) w = std::max<int64_t>(w, int64_t{c.rect.x} + c.rect.width);
            if (h <= 0) h = std::max<int64_t>(h, int64_t{c.rect.y} + c.rect.height);
        }
    }
    *width = static_cast<int>(std::clamp<int64_t>(w * kPixelsPerDialogUnit, 1, kPagePictureMaxSide));
    *height = static_cast<int>(std::clamp<int64_t>(h * kPixelsPerDialogUnit, 1, kPagePictureMaxSide));
}

bool PagePicturePng(const wf::DialogState& dialog, std::string* png, std::string* error) {
    int width = 0, height = 0;
    PagePictureSize(dialog, &width, &height);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_t* cr = cairo_create(surface);
    Set(cr, kFace);
    cairo_paint(cr);
    for (const ControlState& c : dialog.controls)
        if (c.visible) DrawControl(cr, c);
    cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    png->clear();
    if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_write_to_png_stream(surface, Append, png);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        *error = std::string("cannot draw the page: ") + cairo_status_to_string(status);
        png->clear();
        return false;
    }
    return true;
}

bool WritePagePicture(const wf::DialogState& dialog, const std::string& path, std::string* error) {
    std::string png;
    if (!PagePicturePng(dialog, &png, error)) return false;
    // Whole or not at all, as every file the host writes.
    if (zv::files::WriteOutsideFile(path, png) > 0) return true;
    *error = zvLastErrorText();
    return false;
}

}  // namespace zvhost
