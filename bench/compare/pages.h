// The pages of the side-by-side comparison, drawn in code (300 dpi A4), so the harness needs no
// outside files. Everything is deterministic: the same seed draws the same page.
#pragma once

#include <cstdint>
#include <memory>

#include "dib/dib.h"

namespace qil::compare {

// A bilevel text page, 2528 x 3300: about 70 lines of glyph-like marks (stems, bars, rings,
// dots, commas, diagonals) whose lines fall by 1 degree from left to right, and scattered
// specks of 1 to 3 pixels.
std::unique_ptr<TDIB> TextPage(uint32_t seed = 1);

// The newspaper-like bilevel page (2480 x 3508): text columns, a headline and two halftone
// pictures.
std::unique_ptr<TDIB> NewspaperPage();

// A ruled form, 2528 x 3300 bilevel: a grid of 3-pixel ruling lines with text in the cells.
std::unique_ptr<TDIB> RuledFormPage();

// A scanned bilevel page for the cleanup chain, 2528 x 3300: the text of TextPage with a few
// ruling lines, all tilted by the same 1 degree, specks, and a black scanner border along the
// left and bottom edges. Seed varies the text.
std::unique_ptr<TDIB> ScanPage(uint32_t seed);

// A gray scan, 2480 x 3508 8-bit: light paper with a lighting gradient and noise, dark text
// strokes and a gray photo block.
std::unique_ptr<TDIB> GrayScanPage();

// A color scan, 2480 x 3508 24-bit: the gray scan's content tinted, with a red stamp and blue
// form lines.
std::unique_ptr<TDIB> ColorScanPage();

}  // namespace qil::compare
