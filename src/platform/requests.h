// What has been asked of a running glide, kept by the platform until the
// loop has taken it in and its asker has heard so. Each platform file keeps
// one, of whatever it answers: a window, a call on the bus.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <string_view>
#include <utility>

#include "platform.h"

// What the command line says when the glide of the session cannot be asked:
// there is none, it keeps too many requests waiting, or it does not answer.
constexpr const char *noglide = "glide: no glide is running in this session\n";
constexpr const char *glidebusy = "glide: the glide of this session is busy: try again\n";
constexpr const char *glidesilent = "glide: the glide of this session does not answer\n";

// A request as the command line sends it to glide's window, on X11 and
// Windows alike: 1 to pause, 2 to resume, 3 to toggle.
constexpr long request_code(Control control)
{
    return control == Control::pause ? 1 : control == Control::resume ? 2 : 3;
}

// The request a code stands for; Control::none for any other number.
constexpr Control requested(long code)
{
    return code == 1   ? Control::pause
           : code == 2 ? Control::resume
           : code == 3 ? Control::toggle
                       : Control::none;
}

// What glide does, as the command line prints it.
constexpr const char *state_name(State state)
{
    return state == State::paused ? "paused" : state == State::aside ? "aside" : "active";
}

// What glide --status prints: the state, and on a line of its own the
// program that has the focus, if any; a running glide's word, made safe to
// print.
using StatusText = std::array<char, 2 * namesize + 2>;
inline StatusText status_text(std::string_view state, std::string_view program)
{
    Focus shown;
    name_focus(&shown, 0, state);
    name_focus(&shown, 1, program);
    StatusText text{};
    std::snprintf(text.data(), text.size(), "%s\n%s%s", shown.names[0].data(),
                  shown.names[1].data(), shown.names[1][0] != '\0' ? "\n" : "");
    return text;
}

// What has the focus, as the platform last saw it, and whether the loop has
// yet to hear it.
struct FocusNews {
    Focus focus;
    bool changed = true;  // the loop hears it first as glide starts
};

// Takes in what has the focus now: news if it differs from what had it.
inline void note_focus(FocusNews &news, const Focus &focus)
{
    if (focus != news.focus) {
        news.focus = focus;
        news.changed = true;
    }
}

// What platform_take_focus() answers: the focus, if it is news.
inline bool take_focus(FocusNews &news, Focus *focus)
{
    const bool changed = std::exchange(news.changed, false);
    if (changed) {
        *focus = news.focus;
    }
    return changed;
}

// Choices made in a menu, oldest first, for the loop to take: a few at most,
// as a hand makes them.
struct Choices {
    std::array<Chosen, 8> kept{};
    size_t count = 0;
};

// Keeps a choice for the loop; one too many is lost.
inline void keep_choice(Choices &choices, const Chosen &chosen)
{
    if (choices.count < choices.kept.size()) {
        choices.kept.at(choices.count++) = chosen;
    }
}

// The oldest choice the loop has not taken, now taken; Choice::none when
// none waits.
inline Chosen take_choice(Choices &choices)
{
    if (choices.count == 0) {
        return {};
    }
    const Chosen oldest = choices.kept.front();
    std::move(choices.kept.begin() + 1,
              choices.kept.begin() + static_cast<ptrdiff_t>(choices.count), choices.kept.begin());
    --choices.count;
    return oldest;
}

template <typename Asker>
struct Requests {
    struct Request {
        Control control;
        Asker asker;
    };
    // Oldest first, kept in place; more than a few wait only when something
    // floods glide.
    std::array<Request, 16> kept{};
    size_t count = 0;  // waiting or taken
    size_t taken = 0;  // of those, the first ones, which the loop has taken
};

// Keeps a request for the loop. Returns false, keeping nothing, when too
// many wait already.
template <typename Asker>
bool keep_request(Requests<Asker> &requests, Control control, Asker asker)
{
    if (requests.count == requests.kept.size()) {
        return false;
    }
    requests.kept.at(requests.count++) = {control, asker};
    return true;
}

// Whether a request waits for the loop to take it.
template <typename Asker>
bool request_kept(const Requests<Asker> &requests)
{
    return requests.taken < requests.count;
}

// The oldest request the loop has not taken, now taken; Control::none when
// none waits.
template <typename Asker>
Control take_request(Requests<Asker> &requests)
{
    return request_kept(requests) ? requests.kept.at(requests.taken++).control : Control::none;
}

// Answers, with answer(asker), everyone whose request the loop has taken,
// and forgets those requests.
template <typename Asker, typename Answer>
void answer_taken(Requests<Asker> &requests, Answer answer)
{
    const auto first = requests.kept.begin();
    std::for_each(first, first + static_cast<ptrdiff_t>(requests.taken),
                  [&](const auto &request) { answer(request.asker); });
    std::move(first + static_cast<ptrdiff_t>(requests.taken),
              first + static_cast<ptrdiff_t>(requests.count), first);
    requests.count -= requests.taken;
    requests.taken = 0;
}
