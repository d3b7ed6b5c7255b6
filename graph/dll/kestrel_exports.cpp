// The Kestrel library's two exports, undecorated (Kestrel.def on Windows).
#include "graph/rend_graph.h"

extern "C" int32_t CreatRendGraph(IRendGraph** out) { return CreateRendGraphObject(out); }

extern "C" void ReleaseRendGraph(IRendGraph** graph) { ReleaseRendGraphObject(graph); }
