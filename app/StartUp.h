#pragma once

// What the program sets on its application before it builds the window:
// name, version and the desktop's application id. main() and the start-up
// benchmark both call it, so that the figures are the program's own.
void prepareApplication();
