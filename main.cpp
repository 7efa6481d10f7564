#include "QuorvelApp.h"

int main(int argc, char** argv) { return QuorvelApp::run(argc, argv); }
