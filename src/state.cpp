#include "state.h"

#include <cfloat>
#include <limits>

#include "throw.h"

// The tick is specified in IEEE single and double precision, evaluated at the
// precision of each type: extended intermediates (x87) would change the results.
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559,
              "glide needs IEEE 754 float and double");
#if defined(FLT_EVAL_METHOD)
#if FLT_EVAL_METHOD != 0
#error "glide needs float arithmetic evaluated in float (FLT_EVAL_METHOD 0), e.g. SSE2"
#endif
#elif !defined(_M_X64) && !defined(_M_ARM64)  // where MSVC evaluates in float
#error "glide needs float arithmetic evaluated in float (FLT_EVAL_METHOD 0), e.g. SSE2"
#endif

float lastx;
float lasty;
float friction;
int32_t firstloop;
int32_t width;
int32_t height;
float c;
float d;
bool quiet;
bool screen;
bool throwing;
double throwspeed;
bool frictiongiven;
bool speedgiven;
bool resting;
bool paused;
bool aside;
Focus focus;
Focus menuprogram;
std::optional<Menu> menushown;

void init_state()
{
    lastx = 0.0f;
    lasty = 0.0f;
    friction = defaultfriction;
    firstloop = 1;
    width = lastcolumn;
    height = lastrow;
    c = 0.0f;
    d = 0.0f;
    quiet = false;
    screen = false;
    throwing = false;
    throwspeed = defaultspeed;
    frictiongiven = false;
    speedgiven = false;
    resting = false;
    paused = false;
    aside = false;
    focus = Focus{};
    menuprogram = Focus{};
    menushown.reset();
    init_throw();
}
