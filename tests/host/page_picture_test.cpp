// Pictures of pages: the size at two pixels per dialog unit, what the
// control states look like, and states no page should have drawn safely.
#include "page_picture.hpp"

#include <gtest/gtest.h>

#include <cairo.h>

#include <filesystem>

#include "support/temp_space.hpp"

namespace {

using wf::ControlKind;

// A decoded PNG; 0 x 0 when the bytes are no PNG.
class Picture {
public:
    explicit Picture(const std::string& png) : bytes_(png) {
        surface_ = cairo_image_surface_create_from_png_stream(&Picture::Read, this);
    }
    ~Picture() { cairo_surface_destroy(surface_); }
    bool Ok() const { return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }
    int Width() const { return Ok() ? cairo_image_surface_get_width(surface_) : 0; }
    int Height() const { return Ok() ? cairo_image_surface_get_height(surface_) : 0; }
    // The pixel at (x, y) as 0xRRGGBB.
    uint32_t At(int x, int y) const {
        const unsigned char* data = cairo_image_surface_get_data(surface_);
        return reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(surface_))[x] & 0xFFFFFF;
    }
    // Pixels of the rectangle darker than mid-grey.
    int Dark(int x, int y, int w, int h) const {
        int dark = 0;
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) dark += ((At(i, j) >> 8) & 0xFF) < 0x80 ? 1 : 0;
        return dark;
    }

private:
    static cairo_status_t Read(void* closure, unsigned char* data, unsigned int length) {
        auto* self = static_cast<Picture*>(closure);
        if (self->at_ + length > self->bytes_.size()) return CAIRO_STATUS_READ_ERROR;
        std::copy_n(self->bytes_.data() + self->at_, length, data);
        self->at_ += length;
        return CAIRO_STATUS_SUCCESS;
    }
    std::string bytes_;
    size_t at_ = 0;
    cairo_surface_t* surface_;
};

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kFace = 0xF0F0F0;
bool Blue(uint32_t rgb) { return (rgb & 0xFF) > 0xA0 && (rgb >> 16) < 0x40; }

wf::ControlState Control(ControlKind kind, wf::Rect rect, std::string text = "") {
    wf::ControlState c;
    c.kind = kind;
    c.rect = rect;
    c.text = std::move(text);
    return c;
}

std::string Draw(const wf::DialogState& dialog) {
    std::string png, error;
    EXPECT_TRUE(zvhost::PagePicturePng(dialog, &png, &error)) << error;
    return png;
}

TEST(PagePicture, TwoPixelsPerDialogUnitWithinBounds) {
    struct Case {
        wf::Rect dialog;
        wf::Rect control;
        int width, height;
    };
    for (const Case& c : {Case{{0, 0, 300, 146}, {10, 10, 20, 10}, 600, 292},
                          Case{{0, 0, 0, 0}, {10, 20, 90, 30}, 200, 100},  // as far as the controls reach
                          Case{{0, 0, 100000, 3}, {0, 0, 0, 0}, zvhost::kPagePictureMaxSide, 6},
                          Case{{0, 0, -5, -5}, {-10, -10, 5, 5}, 1, 1}}) {
        SCOPED_TRACE(std::to_string(c.dialog.width) + " x " + std::to_string(c.dialog.height));
        wf::DialogState dialog;
        dialog.rect = c.dialog;
        dialog.controls.push_back(Control(ControlKind::Static, c.control, "text"));
        const Picture picture(Draw(dialog));
        ASSERT_TRUE(picture.Ok());
        EXPECT_EQ(picture.Width(), c.width);
        EXPECT_EQ(picture.Height(), c.height);
    }
}

TEST(PagePicture, ControlStatesShow) {
    wf::DialogState dialog;
    dialog.rect = {0, 0, 200, 120};
    wf::ControlState edit = Control(ControlKind::Edit, {10, 10, 60, 14});
    wf::ControlState disabled = Control(ControlKind::Edit, {10, 30, 60, 14});
    disabled.enabled = false;
    wf::ControlState hidden = Control(ControlKind::Edit, {10, 50, 60, 14});
    hidden.visible = false;
    wf::ControlState list = Control(ControlKind::ListBox, {100, 10, 80, 40});
    list.items = {"a", "b", "c"};
    list.selection = 1;
    wf::ControlState checked = Control(ControlKind::CheckBox, {10, 70, 60, 10}, "on");
    checked.checked = 1;
    wf::ControlState unchecked = Control(ControlKind::CheckBox, {10, 84, 60, 10}, "on");
    wf::ControlState slider = Control(ControlKind::Slider, {100, 60, 80, 20});
    slider.rangeMin = 0;
    slider.rangeMax = 100;
    slider.position = 75;
    dialog.controls = {edit, disabled, hidden, list, checked, unchecked, slider};
    const Picture p(Draw(dialog));
    ASSERT_TRUE(p.Ok());
    EXPECT_EQ(p.At(120, 34), kWhite);  // inside the edit, right of its text
    EXPECT_EQ(p.At(120, 74), kFace);   // a disabled edit is not white
    EXPECT_EQ(p.At(20, 100), kFace);   // a hidden edit is not drawn
    EXPECT_EQ(p.At(19, 100), kFace);
    // The selected line (16 pixels a line, from 2 inside the box).
    EXPECT_TRUE(Blue(p.At(340, 20 + 2 + 16 + 8)));
    EXPECT_EQ(p.At(340, 20 + 2 + 8), kWhite);
    EXPECT_EQ(p.At(340, 20 + 2 + 32 + 8), kWhite);
    // The check mark darkens its box.
    EXPECT_GT(p.Dark(20, 140, 13, 20), p.Dark(20, 168, 13, 20) + 5);
    // The thumb three quarters along the track (8 pixels in from each end).
    const int thumb = 200 + 8 + (160 - 16) * 3 / 4;
    EXPECT_TRUE(Blue(p.At(thumb, 140)));
    EXPECT_FALSE(Blue(p.At(200 + 10, 140)));
}

TEST(PagePicture, StatesNoPageShouldHaveAreDrawnSafely) {
    wf::DialogState dialog;
    dialog.rect = {0, 0, 300, 200};
    dialog.controls.push_back(
        Control(ControlKind::Static, {0, 0, 300, 40}, "bad \xff\xfe UTF-8 \xe2\x82 and \xed\xa0\x80\nnew line\t"));
    dialog.controls.push_back(Control(ControlKind::Edit, {0, 40, 100, 14}, std::string(32767, 'W')));
    dialog.controls.push_back(Control(ControlKind::Static, {0, 60, 1, 200}, std::string(20000, 'x') + " y"));
    wf::ControlState many = Control(ControlKind::ListBox, {100, 40, 100, 60});
    for (int i = 0; i < 100000; ++i) many.items.push_back(std::to_string(i));
    many.selection = 99999;
    dialog.controls.push_back(many);
    wf::ControlState list = Control(ControlKind::DropDownList, {0, 110, 60, 14});
    list.items = {"0", "1"};
    list.selection = 5;
    dialog.controls.push_back(list);
    wf::ControlState flat = Control(ControlKind::Slider, {0, 130, 100, 20});
    flat.style = wf::kStyleTicks;
    flat.rangeMin = flat.rangeMax = flat.position = 7;
    for (int i = 0; i < 5000; ++i) flat.tics.push_back(i);
    dialog.controls.push_back(flat);
    wf::ControlState wide = Control(ControlKind::Slider, {100, 130, 100, 20});
    wide.rangeMin = INT32_MIN;
    wide.rangeMax = INT32_MAX;
    wide.position = INT32_MAX;
    dialog.controls.push_back(wide);
    for (ControlKind kind : {ControlKind::GroupBox, ControlKind::PushButton, ControlKind::RadioButton,
                             ControlKind::DropDownCombo, ControlKind::CheckBox}) {
        dialog.controls.push_back(Control(kind, {INT32_MAX - 5, INT32_MIN, INT32_MAX, 3}, "far"));
        dialog.controls.push_back(Control(kind, {10, 160, 0, 0}, "none"));
        dialog.controls.push_back(Control(kind, {200, 160, 2, 2}, "tiny"));
    }
    const Picture p(Draw(dialog));
    ASSERT_TRUE(p.Ok());
    EXPECT_EQ(p.Width(), 600);
    // The long list shows its selection, scrolled to the bottom line.
    bool selection = false;
    for (int y = 80; y < 200; ++y) selection = selection || Blue(p.At(300, y));
    EXPECT_TRUE(selection);
}

TEST(PagePicture, WritesAWholeFileOrNothing) {
    zvtest::TempFileSpace space("zvhost-page-picture", zvtest::TempFileSpace::Root::kLeave);
    const std::filesystem::path& folder = space.Path();
    wf::DialogState dialog;
    dialog.rect = {0, 0, 50, 20};
    dialog.controls.push_back(Control(ControlKind::PushButton, {5, 5, 40, 10}, "Apply"));
    std::string error;
    const std::string good = (folder / "page.png").string();
    ASSERT_TRUE(zvhost::WritePagePicture(dialog, good, &error)) << error;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(good.c_str());
    EXPECT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(surface), 100);
    cairo_surface_destroy(surface);

    // A folder that is not there, and a name a folder already holds: no
    // picture, no part of one left beside, the folder kept.
    std::filesystem::create_directory(folder / "taken.png");
    for (const char* bad : {"missing/page.png", "taken.png"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(zvhost::WritePagePicture(dialog, (folder / bad).string(), &error));
        EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    }
    EXPECT_EQ(space.List(), (std::vector<std::string>{"page.png", "taken.png"}));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "taken.png"));
}

}  // namespace
