#include <cstdlib>

#include "app/program.hpp"

int main() {
    // The workers are detached and run until the process ends; ending at once
    // spares them static destructors running under their feet.
    std::_Exit(olvex::run_program());
}
