// korva_corr: correlates the raw data files of a schedule's processes.
#include "run_loop.h"

int main(int argc, char** argv) { return korva::korva_corr_main(argc, argv); }
