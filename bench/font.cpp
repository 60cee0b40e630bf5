// Text drawing speed: a paragraph of 2,000 characters laid out with word
// wrap and drawn into a 640 x 480 24-bit bitmap with CFont::Text (the
// committed DejaVu Sans 16 font, one colour; the bitmap has the layout of the
// font's colour copies, as a screen gives them), beside SDL2_ttf rendering the
// same text from DejaVu Sans at the same size with
// TTF_RenderUTF8_Blended_Wrapped and blitting it onto a 640 x 480 24-bit
// surface. Rounds alternate between the two; the figures are the medians of
// the rounds' characters per second and of their ratios.
#include <tarvex/tarvex.h>

#include <SDL.h>
#ifdef TARVEX_HAVE_SDL_TTF
#include <SDL_ttf.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace
{

const std::string kFont = std::string(TARVEX_SOURCE_DIR) + "/data/fonts/dejavusans16.xbf";
const char* const kTtf = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr int kRounds = 9;
constexpr double kRoundSeconds = 0.3;

std::string Paragraph()
{
    const char* words[] = {"the",    "frame",   "draws",   "text",  "from",    "one",    "picture", "of",
                           "glyphs", "while",   "lines",   "wrap",  "between", "words",  "and",     "every",
                           "colour", "has",     "its",     "own",   "tinted",  "copy,",  "so",      "drawing",
                           "is",     "copying", "pixels.", "Fonts", "measure", "layout", "quickly", "too"};
    std::string text;
    uint32_t s = 12345;
    while (text.size() < 2000) {
        s = s * 1664525u + 1013904223u;
        if (!text.empty())
            text += ' ';
        text += words[(s >> 16) % (sizeof words / sizeof words[0])];
    }
    text.resize(2000);
    return text;
}

// Runs f for about kRoundSeconds; answers calls per second.
template <class F> double Rate(F&& f)
{
    using Clock = std::chrono::steady_clock;
    int64_t calls = 0;
    auto start = Clock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 10; ++i)
            f();
        calls += 10;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < kRoundSeconds);
    return static_cast<double>(calls) / elapsed;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    static SGlobals g;
    static SSysGlobals s;
    glb = &g;
    sglb = &s;
    xCreateGlobals();
    CBMPPic* bmp = XNEW(CBMPPic);
    const std::string text = Paragraph();
    int rc = 0;
    {
        CFont font;
        CBitmap page, pageBgr;
        TRGBA white(255, 255, 255);
        if (!font.Load(kFont.c_str(), 0) || !font.CreateColor(white) ||
            !page.CreateRGB(640, 480, 24, 8, 8, 8, 16, 8, 0, 0) ||
            !pageBgr.CreateRGB(640, 480, 24, 8, 8, 8, 0, 8, 16, 0)) {
            std::fprintf(stderr, "font bench: %s\n", glb->error.GetError());
            rc = 1;
        }
        auto ours = [&] { font.Text(&page, text.c_str(), 0, 0, 640, 480, &white, nullptr, 0); };
        [[maybe_unused]] auto oursBgr = [&] {
            font.Text(&pageBgr, text.c_str(), 0, 0, 640, 480, &white, nullptr, 0);
        };
        uint32_t size = rc == 0 ? font.GetTextSize(text.c_str(), 640, 480, 0) : 0;
#ifdef TARVEX_HAVE_SDL_TTF
        TTF_Font* ttf = nullptr;
        SDL_Surface* screen = nullptr;
        SDL_Surface* screenBgr = nullptr;
        if (rc == 0 && TTF_Init() == 0) {
            ttf = TTF_OpenFont(kTtf, 16);
            screen = SDL_CreateRGBSurfaceWithFormat(0, 640, 480, 24, SDL_PIXELFORMAT_RGB24);
            screenBgr = SDL_CreateRGBSurfaceWithFormat(0, 640, 480, 24, SDL_PIXELFORMAT_BGR24);
        }
        if (ttf == nullptr || screen == nullptr || screenBgr == nullptr) {
            std::fprintf(stderr, "font bench: SDL2_ttf could not start: %s\n", SDL_GetError());
            rc = 1;
        }
        auto render = [&](SDL_Surface* onto) {
            SDL_Surface* t =
                TTF_RenderUTF8_Blended_Wrapped(ttf, text.c_str(), SDL_Color{255, 255, 255, 255}, 640);
            SDL_BlitSurface(t, nullptr, onto, nullptr);
            SDL_FreeSurface(t);
        };
        auto peer = [&] { render(screen); };
        auto peerBgr = [&] { render(screenBgr); };
        if (rc == 0) {
            SDL_Surface* t =
                TTF_RenderUTF8_Blended_Wrapped(ttf, text.c_str(), SDL_Color{255, 255, 255, 255}, 640);
            std::printf("text: %zu characters; ours %u x %u pixels, SDL2_ttf %d x %d pixels\n", text.size(),
                        size & 0xFFFF, size >> 16, t != nullptr ? t->w : 0, t != nullptr ? t->h : 0);
            SDL_FreeSurface(t);
            // Rows: the layout of the font's colour copies (red first in
            // memory), and blue first (each glyph converted while drawn).
            std::vector<double> rates[2][2], ratios[2];
            for (int r = 0; r < kRounds; ++r)
                for (int row = 0; row < 2; ++row) {
                    double a = (row == 0 ? Rate(ours) : Rate(oursBgr)) * static_cast<double>(text.size());
                    double b = (row == 0 ? Rate(peer) : Rate(peerBgr)) * static_cast<double>(text.size());
                    rates[row][0].push_back(a);
                    rates[row][1].push_back(b);
                    ratios[row].push_back(a / b);
                }
            std::printf("%-40s %14s %14s %8s\n", "case", "ours chars/s", "SDL2_ttf ch/s", "ratio");
            const char* names[2] = {"wrapped paragraph 640x480 24-bit RGB",
                                    "wrapped paragraph 640x480 24-bit BGR"};
            for (int row = 0; row < 2; ++row)
                std::printf("%-40s %14.0f %14.0f %7.2fx\n", names[row], Median(rates[row][0]),
                            Median(rates[row][1]), Median(ratios[row]));
        }
        if (screen != nullptr)
            SDL_FreeSurface(screen);
        if (screenBgr != nullptr)
            SDL_FreeSurface(screenBgr);
        if (ttf != nullptr)
            TTF_CloseFont(ttf);
        TTF_Quit();
#else
        if (rc == 0) {
            std::vector<double> rates;
            for (int r = 0; r < kRounds; ++r)
                rates.push_back(Rate(ours) * static_cast<double>(text.size()));
            std::printf(
                "text: %zu characters, %u x %u pixels; ours %.0f chars/s (SDL2_ttf missing: no ratio)\n",
                text.size(), size & 0xFFFF, size >> 16, Median(rates));
        }
#endif
    }
    XDELETE(bmp);
    xFreeGlobals();
    return rc;
}
