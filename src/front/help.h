// The help screen.
#pragma once

/// Prints the usage text on standard output.
void ShowHelp();
