# Writes the two alert sounds: a bright two-tone chime (ding.wav) and a
# lower, longer double chime (ding2.wav). 16-bit mono, 22,050 Hz.
import math, struct, wave, sys
RATE = 22050
def tone(freqs, dur, decay):
    n = int(RATE * dur)
    out = []
    for i in range(n):
        t = i / RATE
        env = math.exp(-t * decay) * min(1.0, i / (RATE * 0.004))
        s = sum(math.sin(2 * math.pi * f * t) * a for f, a in freqs)
        out.append(s * env)
    return out
def write(path, samples):
    peak = max(abs(s) for s in samples) or 1
    with wave.open(path, 'wb') as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(RATE)
        w.writeframes(b''.join(struct.pack('<h', int(s / peak * 0.8 * 32767)) for s in samples))
a = tone([(1318.5, 1.0), (2637, 0.3)], 0.35, 7) + tone([(1046.5, 1.0), (2093, 0.3)], 0.6, 5)
b = tone([(880, 1.0), (1760, 0.25)], 0.4, 5) + tone([(659.3, 1.0), (1318.5, 0.25)], 0.4, 5) + tone([(880, 1.0), (1760, 0.25)], 0.8, 4)
write(sys.argv[1], a); write(sys.argv[2], b)
