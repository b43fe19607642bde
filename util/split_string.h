// The quote-aware tokenizer shared by the command line, the list file, the
// theme overrides and image captions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits strText at any of pszSeparators. Runs of separators give no empty
// tokens; "" gives one empty token. Inside quotes a backslash protects the
// next character and stays in the token. Tokens are not trimmed.
// Returns the number of tokens added to *pvecOut.
int SplitString(std::vector<std::string>* pvecOut, std::string_view strSeparators,
                std::string_view strText);
