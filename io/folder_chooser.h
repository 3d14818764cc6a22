#pragma once
// Asking the user for a file or a folder, answered in the product's path
// form: absolute, "/"-separated, folders ending in "/".
#include <cstddef>
#include <string>

// Dialog types of GetFilePathFromUser.
constexpr int kChooseOpenFile = 0;
constexpr int kChooseSaveFile = 1;
constexpr int kChooseFolder = 2;

// Shows the open-file (0), save-file (1) or folder (2) chooser titled
// `inPrompt`, opened at `inStartPath` (may be null; a folder that does not
// exist yet opens at its nearest existing ancestor). `inLabel` and `inNum`
// are not used on this platform. On a choice the answer is written to
// `outFileName` (`outSize` bytes, at least 500 needed for the longest path)
// and 1 is returned; otherwise 0 and the buffer is left alone (type 0 clears
// it first; type 1 offers its text as the initial name). A chosen path of 500
// characters or more is refused with the alert "String too long!" naming it,
// and counts as no choice. Any other type returns 0 at once.
int GetFilePathFromUser(int inType, const char* inPrompt, const char* inLabel, int inNum,
                        const char* inStartPath, char* outFileName, size_t outSize = 512);

// The product's form of a path a chooser returned: `chosen` must be absolute
// ("/..."); a folder gets a trailing '/'. False when the path cannot be used
// by the product: empty or relative ('\' is an ordinary name character).
bool chooser_output_form(const std::string& chosen, bool is_folder, std::string* out);

// The deepest existing folder on the way to `path` ("/" at worst; empty for
// an empty or relative path), used as the chooser's starting folder.
std::string chooser_start_folder(const std::string& path);
