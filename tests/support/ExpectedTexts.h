// What ZORVIK prints, as every test expects it byte for byte: the banner, the
// usage text of the registered modules and the error lines of the error
// table.
#ifndef TESTSUPPORT_EXPECTEDTEXTS_H
#define TESTSUPPORT_EXPECTEDTEXTS_H

#include <string>
#include <vector>

namespace testsupport {

// The banner at the top of every executed run and of the usage text: four
// lines, each with its line feed.
extern const char BANNER[];

// The usage text line by line, without line feeds: the banner, the three
// header-pass lines, the options line, the twelve listing-pass lines and the
// closing border.
std::vector<std::string> UsageLines();
// The same as printed.
std::string UsageText();

// The error line of a code: "%x - %s\n" with the table's message. Only the
// codes the tests meet are listed; any other code throws std::out_of_range.
std::string ErrorLine(unsigned int code);

// The end of a run with an unclaimed word: the usage text, the word, and the
// error line of code 1.
std::string Refused(const std::string& word);

} // namespace testsupport

#endif
