#pragma once
// Checks a program's switch table against its parser and its help text: every entry must be
// taken out of the command line in both spellings with its declared values (leaving exactly the
// positional arguments), and the help must list exactly the table's switches ("  -s, --long").

#include <set>
#include <string>
#include <vector>

#include "CMyCmdParser.h"

// positional: the words a run needs besides the switch (kept in front of it). undocumented:
// short spellings whose help line, if any, is not compared with the table.
void expectSwitchTableHolds(const std::vector<CMyCmdParser::SwitchEntry>& table,
                            const std::string& help, const std::vector<std::string>& positional,
                            const std::set<std::string>& undocumented = {});
