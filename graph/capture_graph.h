// Pin, filter and graph operations the capture graph is built with. They touch no state of
// the render-graph object; its own graph steps (BuildGraph, StopGraph and the rest) are its
// members.
#pragma once

#include <cstdint>

#include "graph/rend_graph.h"

// The graph `filter` was added to, as IGraphBuilder; null when it is in none.
media::ComPtr<IGraphBuilder> GetFilterGraphBuilder(IBaseFilter* filter);

// Connects `outputPin` directly, without a proposed type, to the first input pin of `filter`
// that accepts it. E_INVALIDARG for a null argument, E_FAIL when `filter` is in no graph or
// no pin accepts; an enumeration failure is returned as it is.
HRESULT ConnectPinToFilter(IPin* outputPin, IBaseFilter* filter);

// The first pin of `filter` of `direction`, with a reference, in *pin: 1, else 0.
int FindPinByDirection(IBaseFilter* filter, IPin** pin, PIN_DIRECTION direction);

// Disconnects every connected pin of `filter` and its peer, then removes it from `graph`.
void RemoveFilterFromGraph(IBaseFilter* filter, IGraphBuilder* graph);

// Removes every filter downstream of `filter` from `graph`, the farthest first.
void RemoveDownstreamFilters(IGraphBuilder* graph, IBaseFilter* filter);

// Registers `graph` in the running object table as "FilterGraph %08x pid %08x" (an item
// moniker, kept alive by the table). E_POINTER for a null argument, E_FAIL without a table.
HRESULT AddGraphToRot(IUnknown* graph, DWORD* cookie);
// Revokes a registration; failures are ignored.
void RemoveGraphFromRot(DWORD cookie);

// Writes the graph's IPersistStream image as stream "ActiveMovieGraph" of the structured
// storage at `path`: 1 on success, 0 otherwise (a null path or graph included).
int SaveGraphFile(const char16_t* path, IGraphBuilder* graph);
