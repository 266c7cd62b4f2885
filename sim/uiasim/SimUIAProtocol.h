// The simulated UI Automation client (GlimSimUIA.dll, registered under
// CLSID_CUIAutomation): what it shows of a window, set by a test through a named file
// mapping, and what it saw of its client's calls.
#pragma once

#include <windows.h>

namespace simuia {

constexpr const wchar_t* kMappingName = L"GlimSimUIAState";
constexpr const wchar_t* kDllName = L"GlimSimUIA.dll";

// Interface tags of the slot records.
constexpr LONG kTagAutomation = 2;
constexpr LONG kTagElement = 3;
constexpr LONG kTagCondition = 4;
constexpr int kAutomationSlots = 26;  // through CreateAndCondition
constexpr int kElementSlots = 44;     // through get_CurrentBoundingRectangle
constexpr int kConditionSlots = 3;

struct Shared {
    LONG bNoElement;    // ElementFromHandle yields no element
    LONG bHasMovie;     // the window holds a Group element with automation id "movie_player"
    RECT rcMovie;       // that element's bounding rectangle
    LONG hrRectError;   // non-zero: get_CurrentBoundingRectangle fails with it
    LONG nLiveObjects;  // elements and conditions not yet released
    LONG nLastTag;      // the interface and slot the last call reached
    LONG nLastSlot;
    LONG nStubHits;       // calls that reached a slot the stand-in does not serve
    LONG nLastFindScope;  // TreeScope of the last FindFirst
    LONG nFindFirstCalls;
    LONGLONG llLastWindow;  // the window of the last ElementFromHandle
};

}  // namespace simuia
