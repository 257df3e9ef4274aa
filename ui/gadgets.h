#pragma once
// Gadgets: the controls placed in windows, numbered objects in one table for all windows.
// Creation places a gadget in the current gadget list (the last window opened, or the one chosen
// with useGadgetList). Creating under a number in use frees the old gadget, wherever it lives.
//
// Threads: every operation here belongs to the main thread, which owns the widgets. Called from
// another thread, one does nothing and returns its failure value (0, the empty text, or -1 for
// addGadgetItem). A worker hands its results over as plain data and wakes the main thread with
// postEvent (ui/events.h), which is the one call of ui/ other threads may make.
//
// Every operation on a number that names no gadget does nothing and returns 0 (or "").

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/object_table.h"
#include "ui/windows.h"

namespace lunadio {

// Creation flags the kinds understand.
enum : std::uint32_t {
  TextCenter = 0x1,
  TextRight = 0x2,
  TextBorder = 0x20000,  // text gadget: sunken edge; string gadget: no edge
  StringPassword = 0x20,
  StringReadOnly = 0x800,
  StringNumeric = 0x2000,
  CheckBoxThreeState = 0x5,  // both bits make a three-state box
  ImageBorder = 0x1,
  ImageSunken = 0x200,
  ProgressBarSmooth = 0x1,
  ListCheckboxes = 0x1,
  ListMultiSelect = 0x4,
  ListColumnDrag = 0x10000000,
  ListFullRowSelect = 0x40000000,
  CanvasBorder = 0x1,
  CanvasClipMouse = 0x2,
  CanvasKeyboard = 0x4,
};

// Results: the native handle for a static number, the dynamic identifier for ObjectAny, 0 on
// failure (no current gadget list, or a widget that cannot be made).
std::intptr_t createButtonGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                 std::u16string_view text, std::uint32_t flags = 0);
std::intptr_t createImageButtonGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                      std::intptr_t image, std::uint32_t flags = 0);
std::intptr_t createTextGadget(ObjectNumber gadget, int x, int y, int width, int height,
                               std::u16string_view text, std::uint32_t flags = 0);
std::intptr_t createStringGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                 std::u16string_view text, std::uint32_t flags = 0);
std::intptr_t createCheckBoxGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                   std::u16string_view text, std::uint32_t flags = 0);
// flags 0: titled group box; 1 sunken, 2 static edge, any other non-zero value a plain border.
std::intptr_t createFrameGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                std::u16string_view text, std::uint32_t flags = 0);
std::intptr_t createImageGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                std::intptr_t image, std::uint32_t flags = 0);
std::intptr_t createProgressBarGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                      int minimum, int maximum, std::uint32_t flags = 0);
std::intptr_t createListIconGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                   std::u16string_view firstColumnTitle, int firstColumnWidth,
                                   std::uint32_t flags = 0);
std::intptr_t createCanvasGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                 std::uint32_t flags = 0);

// Makes the window with that handle the current gadget list and returns the previous one's
// handle; 0 only returns the current one.
NativeHandle useGadgetList(NativeHandle window);

bool isGadget(ObjectNumber gadget);
// Frees one gadget, or every gadget with ObjectAll; its queued events go with it.
void freeGadget(ObjectNumber gadget);

// How screen readers present a gadget. Buttons, check boxes, texts, frames and the tray are named
// by their own text; a picture, a canvas, a text field or a list is named here. Own keeps the
// kind's own role (a field, a list) and only names it; Button makes a picture or canvas a
// button whose press action acts as a left click (EventGadget, EventTypeLeftClick); Slider and
// ProgressBar report the value set with setGadgetAccessibleValue (0..100, read as a percentage).
enum class GadgetRole { Own, Button, Slider, ProgressBar, Picture };
void setGadgetAccessibility(ObjectNumber gadget, GadgetRole role, std::u16string_view name);
void setGadgetAccessibleValue(ObjectNumber gadget, int percent);

void setGadgetText(ObjectNumber gadget, std::u16string_view text);
std::u16string getGadgetText(ObjectNumber gadget);
std::intptr_t getGadgetState(ObjectNumber gadget);
void setGadgetState(ObjectNumber gadget, std::intptr_t value);
// attribute 1 = text (or bar) colour, 2 = background; -1 = the default colour.
void setGadgetColor(ObjectNumber gadget, int attribute, std::int32_t colour);
std::int32_t getGadgetColor(ObjectNumber gadget, int attribute);
// fontHandle -1 = the default font. Gadget -1 sets the font of gadgets created afterwards.
void setGadgetFont(ObjectNumber gadget, std::intptr_t fontHandle);
void setGadgetData(ObjectNumber gadget, std::intptr_t value);
std::intptr_t getGadgetData(ObjectNumber gadget);
std::intptr_t getGadgetAttribute(ObjectNumber gadget, int attribute);
void setGadgetAttribute(ObjectNumber gadget, int attribute, std::intptr_t value);
void hideGadget(ObjectNumber gadget, int hide);
void disableGadget(ObjectNumber gadget, int disable);
// Position in the window, size; IgnoreValue keeps a value.
void resizeGadget(ObjectNumber gadget, int x, int y, int width, int height);
int gadgetX(ObjectNumber gadget);
int gadgetY(ObjectNumber gadget);
int gadgetWidth(ObjectNumber gadget);
int gadgetHeight(ObjectNumber gadget);
// Multi-line text is shown on several lines; an empty text removes the tip.
void gadgetToolTip(ObjectNumber gadget, std::u16string_view text);

// Items (lists). position -1 or beyond the end appends; a line feed in the text starts the next
// column's cell. Returns the new item's index, or -1.
int addGadgetItem(ObjectNumber gadget, int position, std::u16string_view text,
                  std::intptr_t image = 0);
// One row for addGadgetItems: the text as addGadgetItem takes it, its colours for every column
// (-1 = the default) and its data word.
struct GadgetItem {
  std::u16string text;
  std::int32_t frontColour = -1;
  std::int32_t backColour = -1;
  std::intptr_t data = 0;
};
// Appends the rows in order, as addGadgetItem, setGadgetItemColor (every column) and
// setGadgetItemData would one row at a time, but as one call, so a list takes thousands of rows
// without a view update per row.
void addGadgetItems(ObjectNumber gadget, std::vector<GadgetItem> items);
void clearGadgetItems(ObjectNumber gadget);
int countGadgetItems(ObjectNumber gadget);
// item -1 reads the column's header title.
std::u16string getGadgetItemText(ObjectNumber gadget, int item, int column = 0);
void setGadgetItemText(ObjectNumber gadget, int item, std::u16string_view text, int column = 0);
// item -1 = every item, column -1 = every column.
void setGadgetItemColor(ObjectNumber gadget, int item, int attribute, std::int32_t colour,
                        int column = -1);
std::int32_t getGadgetItemColor(ObjectNumber gadget, int item, int attribute, int column = 0);
void setGadgetItemData(ObjectNumber gadget, int item, std::intptr_t value);
std::intptr_t getGadgetItemData(ObjectNumber gadget, int item);
void addGadgetColumn(ObjectNumber gadget, int position, std::u16string_view title, int width);
// Attribute 1 = the column's width.
void setGadgetItemAttribute(ObjectNumber gadget, int item, int attribute, std::intptr_t value,
                            int column = 0);
std::intptr_t getGadgetItemAttribute(ObjectNumber gadget, int item, int attribute, int column = 0);

}  // namespace lunadio
