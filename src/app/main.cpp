#include "app/qt_main.h"

int main(int argc, char** argv) {
  return tarvo::run_tarvo(argc, argv);
}
