#pragma once
// How the tables write numbers: seven significant digits (what a float holds), NA where there
// is no value.

#include <string>

class TsvText {
  public:
    static std::string Number(double value);
};
