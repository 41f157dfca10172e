// The page, its script and its style sheet, kept in the binary: the server
// fetches nothing and needs no files at run time.
#pragma once

namespace korval::tools::serve {

extern const char* const kPageHtml;
extern const char* const kPageScript;
extern const char* const kPageStyle;

} // namespace korval::tools::serve
