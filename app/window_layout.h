// Where the controls go when the window's width changes. Only the width matters: nothing moves
// vertically, no height changes, and the labels "1" and "2", the check boxes and SwapButton stay
// where they were built.
#pragma once

#include <climits>
#include <vector>

// PlaceControl's marker for a value that keeps what the control has.
inline constexpr int kUnchanged = INT_MIN;

struct Placement {
  int control;
  int x = kUnchanged;
  int y = kUnchanged;
  int width = kUnchanged;
  int height = kUnchanged;
};

// The window width halved with the fraction dropped, minus 10: the width of each separator
// column.
int HalfWidth(int window_width);

// The placements for a window of the given width, in the order they are applied.
std::vector<Placement> LayoutForWidth(int window_width);
