// The velt executable: a thin shell over the front end in src/app.
#include "app.h"

int main(int argc, char** argv) { return velt::app::runVelt(argc, argv); }
