#include "app/QuorvelApp.h"

int main(int argc, char** argv) { return quorvel::QuorvelApp::run(argc, argv); }
