// nurbs: command-line access to VelSDK.Nurbs (fit, inspect, evaluate, segment, project,
// split, convert and plot curves and surfaces).
#include "CommandLine.h"

int main(int argc, char** argv) { return nurbs_tool::CommandLine::Run(argc, argv); }
