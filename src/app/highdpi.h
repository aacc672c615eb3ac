#pragma once

// Call before the application object is created. The dialog has a fixed layout that grows only in
// whole multiples (twice the size from 192 dpi on); Qt's default fractional scaling would
// otherwise enlarge it by 1.25 or 1.5 as well, on top of what the dialog does itself.
void useWholeScaleFactors();
