#pragma once
// The percentage shown during the long phases: five backspaces erase the previous figure (or
// the five blanks printed after the phase's title), then the new one is printed and flushed.

class ProgressDisplay {
  public:
    static void Show(double percent);
};
