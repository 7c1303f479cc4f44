// Draws the program's icon: icon_draw OUTPUT.png [SIZE]
//
// A SIZE x SIZE picture (default 32) with alpha: one dark purple brush stroke sweeping up to the
// right, pressed hard at its start and running dry at its tail, with a dab of ink beside it, on a
// transparent ground. The strokes are laid out on a 32 x 32 grid and scaled to SIZE. shell/icon.png
// is this program's output at 32; redraw it after changing the strokes.
#include <cairo.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kGrid = 32;
constexpr int kLargestSize = 1024;
constexpr double kInk[] = {0.23, 0.05, 0.33};  // dark purple

// The main stroke: a crescent from the pressed head at lower left to a fine tail at upper right.
void DrawSweep(cairo_t* cr) {
  cairo_move_to(cr, 4.0, 25.5);
  cairo_curve_to(cr, 7.5, 15.0, 17.0, 7.0, 28.5, 4.5);
  cairo_curve_to(cr, 19.0, 12.0, 13.5, 19.5, 11.0, 27.0);
  cairo_curve_to(cr, 8.5, 29.0, 4.5, 28.5, 4.0, 25.5);
  cairo_fill(cr);
  cairo_arc(cr, 7.0, 25.5, 3.6, 0, 6.2832);
  cairo_fill(cr);
}

// Dry-brush streaks: thin gaps cut into the tail, following its curve.
void CutStreaks(cairo_t* cr) {
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_set_line_width(cr, 0.7);
  cairo_move_to(cr, 15.0, 13.2);
  cairo_curve_to(cr, 18.5, 10.0, 22.0, 8.0, 27.0, 5.6);
  cairo_move_to(cr, 12.5, 17.5);
  cairo_curve_to(cr, 15.5, 14.0, 18.0, 12.0, 21.5, 9.8);
  cairo_stroke(cr);
  cairo_restore(cr);
}

// A teardrop dab of ink under the tail.
void DrawDab(cairo_t* cr) {
  cairo_move_to(cr, 20.0, 19.0);
  cairo_curve_to(cr, 24.5, 18.5, 27.5, 22.0, 26.0, 25.5);
  cairo_curve_to(cr, 24.5, 28.0, 20.5, 27.0, 21.0, 23.5);
  cairo_curve_to(cr, 21.3, 21.5, 21.0, 20.0, 20.0, 19.0);
  cairo_fill(cr);
}

}  // namespace

int main(int argc, char** argv) {
  int size = kGrid;
  if (argc == 3) {
    char* end = nullptr;
    long parsed = std::strtol(argv[2], &end, 10);
    size = (*end == '\0' && parsed >= 1 && parsed <= kLargestSize) ? int(parsed) : 0;
  }
  if ((argc != 2 && argc != 3) || size == 0) {
    std::fprintf(stderr, "usage: icon_draw OUTPUT.png [SIZE 1..%d]\n", kLargestSize);
    return 2;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(surface);
  cairo_scale(cr, double(size) / kGrid, double(size) / kGrid);
  cairo_set_source_rgb(cr, kInk[0], kInk[1], kInk[2]);
  DrawSweep(cr);
  CutStreaks(cr);
  DrawDab(cr);
  cairo_destroy(cr);
  cairo_status_t status = cairo_surface_write_to_png(surface, argv[1]);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    std::fprintf(stderr, "icon_draw: %s: %s\n", argv[1], cairo_status_to_string(status));
    return 1;
  }
  return 0;
}
