// The help screen.
#pragma once

/// Prints the usage text on standard output.
void ShowHelp();

/// Prints the usage text, then every setting that came after it (--help).
void ShowLongHelp();
