// Entry point of the CGI: one request per process.
#include "request/velt.h"

int main() { return velt_main(); }
