#include "app/KelvaroMain.h"

int main(int argc, char** argv) {
    return KelvaroMain(argc, argv);
}
