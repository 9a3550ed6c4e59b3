#pragma once

// Runs the program: start-up, the event loop and shut-down. Returns the process exit status.
int KelvaroMain(int argc, char** argv);
