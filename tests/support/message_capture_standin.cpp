#include "message_capture.h"
#include "standin_messages.h"

void BeginMessageCapture()
{
    TakeStandInMessages(NULL, 0);
}

std::vector<CapturedMessage> EndMessageCapture()
{
    StandInMessage recorded[kStandInMessageCapacity];
    const int count = TakeStandInMessages(recorded, kStandInMessageCapacity);
    std::vector<CapturedMessage> messages;
    for (int i = 0; i < count && i < kStandInMessageCapacity; ++i)
        messages.push_back({recorded[i].owner, recorded[i].text, recorded[i].caption, recorded[i].type});
    return messages;
}

HWND CreateOwnerWindow()
{
    static int token;
    return (HWND)&token;
}

void DestroyOwnerWindow(HWND)
{
}
