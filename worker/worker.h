#pragma once

// Worker mode: argv holds the program path and the eight worker words.
// Returns the process exit code (always 0).
int worker_main(int argc, char** argv);
