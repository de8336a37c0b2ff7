/* A small host program: drives the engine through its C interface only, as the
   sound-design application does. Usage: quorvalen_host [sound-file] */
#include <quorvalen_dsp.h>

#include <stdio.h>

#ifndef QV_DEFAULT_SOUND
#define QV_DEFAULT_SOUND "tools/sounds/default.wav"
#endif

int main(int argc, char** argv)
{
    const char* sound = argc > 1 ? argv[1] : QV_DEFAULT_SOUND;
    int rc = quorvalen_engine_init();
    printf("init: %d (ready=%d)\n", rc, quorvalen_engine_is_ready());
    if (rc != 0)
        return 1;

    rc = quorvalen_play_wav(sound);
    printf("blocking play of %s: %d\n", sound, rc);

    quorvalen_engine_shutdown();
    printf("shutdown: ready=%d\n", quorvalen_engine_is_ready());
    return rc == 0 ? 0 : 1;
}
