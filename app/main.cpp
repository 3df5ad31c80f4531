#include "app/program.h"

int main(int argc, char** argv) {
  return RunListwise(argc, argv);
}
