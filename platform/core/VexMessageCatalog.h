#ifndef VEX_MESSAGE_CATALOG_H
#define VEX_MESSAGE_CATALOG_H

#include "platform/core/I18NString.h"

#include <string>
#include <vector>

// The message catalogues: text files named after the catalogue ("vexsktmsgs"),
// one message a line: its number, blanks, then its text with numbered places
// %1 .. %9 for the parameters. Lines starting with '#' are comments.
//
// A catalogue is looked for, in this order, in $SKARN_HOME, $SKARN_HOME/share/skarn,
// the directory of the module that holds this code (the library or a program
// linking it statically) and the installed share/skarn reached from there
// (../share/skarn for a library in lib/). Each file is read
// once, on first use, under a lock; a missing file leaves every text unknown.
class VexMessageCatalog {
public:
    // The text of a message number, or false when the catalogue lacks it.
    static bool lookup(const std::string& file, unsigned int number, std::string& text);

    // Fills the places of `pattern` with `parms` (%1 is the first); a place
    // without a parameter becomes empty, "%%" is a single '%'.
    static std::string substitute(const std::string& pattern, const std::vector<I18NString>& parms);

    // Where the named catalogue was found, empty when it was not.
    static std::string locate(const std::string& file);
};

#endif
