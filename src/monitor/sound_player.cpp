#include "monitor/sound_player.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <cstdio>
#include <string>

#if defined(__linux__)
#include <dlfcn.h>
#endif

#include "assets/assets.h"

namespace tandrel {

namespace {

constexpr int kInitialChannels = 16;
// Each alert sequence holds at most a couple of channels at a time; this only bounds a runaway.
constexpr int kMaxChannels = 256;
constexpr const char* kSoundPaths[2] = {":/sounds/alert_a.wav", ":/sounds/alert_b.wav"};

Mix_Chunk* LoadSound(const char* path, std::string* error) {
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly)) {
        *error = std::string("missing resource ") + path;
        return nullptr;
    }
    const QByteArray image = file.readAll();
    // The chunk gets its own converted copy of the samples, so the image may go once it is loaded.
    Mix_Chunk* chunk =
        Mix_LoadWAV_RW(SDL_RWFromConstMem(image.constData(), static_cast<int>(image.size())), 1);
    if (!chunk) *error = std::string(path) + ": " + Mix_GetError();
    return chunk;
}

#if defined(__linux__)
extern "C" void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints its own "ALSA lib …" lines on stderr when there is no device, eight of them on a machine
// without sound. The library SDL loads is the one found here, so its handler can be set to say nothing; the
// one line of our own says what matters.
void SilenceAlsa() {
    void* alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (!alsa) alsa = dlopen("libasound.so.2", RTLD_LAZY);
    if (!alsa) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) set(&QuietAlsa);
    // Kept loaded: SDL uses it, and a handler in an unloaded library would be worse than the noise.
}
#else
void SilenceAlsa() {}
#endif

}  // namespace

std::string SdlSoundPlayer::Unavailable() {
    std::lock_guard lock(mutex_);
    if (state_ == State::Closed) state_ = OpenLocked() ? State::Open : State::Failed;
    return state_ == State::Failed ? failure_ : std::string();
}

SdlSoundPlayer::~SdlSoundPlayer() {
    std::lock_guard lock(mutex_);
    CloseLocked();
}

void SdlSoundPlayer::Play(int which) {
    std::lock_guard lock(mutex_);
    if (state_ == State::Closed) state_ = OpenLocked() ? State::Open : State::Failed;
    if (state_ != State::Open) return;

    Mix_Chunk* chunk = sounds_[which == 0 ? 0 : 1];
    if (!chunk) return;
    if (Mix_PlayChannel(-1, chunk, 0) >= 0) return;
    // Every channel is busy: add more rather than cut a sound off or drop this one.
    if (channels_ >= kMaxChannels) return;
    channels_ = Mix_AllocateChannels(channels_ * 2);
    Mix_PlayChannel(-1, chunk, 0);
}

bool SdlSoundPlayer::OpenLocked() {
    // SDL would otherwise turn SIGINT and SIGTERM into quit events that nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_APP_NAME, "Tandrel");
    SilenceAlsa();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        failure_ = std::string("没有可用的声音设备（") + SDL_GetError() + "）";
        std::fprintf(stderr, "Tandrel: no sound device, alerts are silent (%s)\n", SDL_GetError());
        return false;
    }
    if (Mix_OpenAudio(MIX_DEFAULT_FREQUENCY, MIX_DEFAULT_FORMAT, 2, 1024) != 0) {
        failure_ = std::string("没有可用的声音设备（") + Mix_GetError() + "）";
        std::fprintf(stderr, "Tandrel: no sound device, alerts are silent (%s)\n", Mix_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    channels_ = Mix_AllocateChannels(kInitialChannels);

    InitAssets();
    for (int i = 0; i < 2; ++i) {
        std::string error;
        sounds_[i] = LoadSound(kSoundPaths[i], &error);
        if (!sounds_[i]) std::fprintf(stderr, "Tandrel: alert sound not loaded (%s)\n", error.c_str());
    }
    return true;
}

void SdlSoundPlayer::CloseLocked() {
    if (state_ != State::Open) return;
    Mix_HaltChannel(-1);
    for (Mix_Chunk*& chunk : sounds_) {
        Mix_FreeChunk(chunk);
        chunk = nullptr;
    }
    Mix_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    state_ = State::Closed;
}

}  // namespace tandrel
