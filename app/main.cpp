#include "app/run_flow.h"

int main(int argc, char** argv) {
    return runLumeko(argc, argv);
}
