// Every benchmark program of the harness starts here; its pairs and sides register themselves.
#include "Bench.h"

int main(int argc, char** argv) {
    return bench::Main(argc, argv);
}
