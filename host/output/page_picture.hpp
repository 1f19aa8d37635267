// Pictures of pages: a page drawn as its dialog looks, from the layout of
// its template and the current state of every control (texts, selections,
// checks, enabled and hidden controls, list contents, slider positions),
// as PNG with cairo. One dialog unit is two pixels across and two down,
// the scale the browser UI draws pages at too.
//
// Plain and readable rather than a copy of any toolkit: a dialog
// background, static texts (wrapped), group frames with their titles, edits
// as white boxes with their text, lists with their items and the selection
// highlighted, drop-down lists and combos with their text and an arrow,
// buttons, check boxes and radio buttons with their marks, sliders with
// track, ticks and thumb; disabled controls grey, hidden ones left out.
//
// Any state is drawn safely: text that is not UTF-8, controls outside the
// dialog or of no size, huge texts and lists (only what fits is drawn).
#ifndef ZVHOST_PAGE_PICTURE_HPP
#define ZVHOST_PAGE_PICTURE_HPP

#include <string>

#include "winframe/winframe.hpp"

namespace zvhost {

constexpr int kPixelsPerDialogUnit = 2;
// The largest side of a page picture, in pixels.
constexpr int kPagePictureMaxSide = 4096;

// The picture's size in pixels: the dialog's size (or, for a dialog of no
// size, the extent of its controls), at least 1 and at most
// kPagePictureMaxSide on each side.
void PagePictureSize(const wf::DialogState& dialog, int* width, int* height);

// The picture as PNG bytes; false with `*error` set when cairo fails.
bool PagePicturePng(const wf::DialogState& dialog, std::string* png, std::string* error);

// The picture written to `path` (a path on this machine); false with
// `*error` set when it cannot be made or written (nothing is left at
// `path` then).
bool WritePagePicture(const wf::DialogState& dialog, const std::string& path, std::string* error);

}  // namespace zvhost

#endif
