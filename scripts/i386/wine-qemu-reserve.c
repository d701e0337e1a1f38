/* LD_PRELOAD helper for running Debian's i386 wine loader under qemu-i386.
 * Debian ships no wine-preloader, so ntdll falls back to reserve_area(), whose
 * MAP_FIXED_NOREPLACE probing is pathologically slow under qemu-user 7.2.
 * This constructor plays the preloader's role: it reserves the free parts of
 * the Windows address ranges (reading the emulated /proc/self/maps) and
 * publishes them through the loader's exported wine_main_preload_info, so
 * ntdll skips the probing.  It does nothing in any other program. */
typedef unsigned int size_t;
struct preload_info
{
    void *addr;
    size_t size;
};

extern void *dlsym(void *, const char *);
extern int open(const char *, int, ...);
extern int read(int, void *, size_t);
extern int close(int);
extern void *mmap(void *, size_t, int, int, int, long);
extern int munmap(void *, size_t);
extern char *getenv(const char *);
extern int write(int, const void *, size_t);

#define PROT_NONE 0
#define MAP_PRIVATE 0x02
#define MAP_ANONYMOUS 0x20
#define MAP_NORESERVE 0x4000
#define MAX_MAPS 512
#define MAX_AREAS 64

static struct preload_info areas[MAX_AREAS + 1];
static unsigned int nareas;
static unsigned long mstart[MAX_MAPS], mend[MAX_MAPS];
static int nmaps;
static char buf[65536];

/* Windows ranges handed to wine; [0x20000000,0x40000000) and
 * [0x7c000000,0x7f000000) stay free for the Unix side (qemu places mmaps
 * downwards from 0x40000000; the loader and its brk live at 0x7d000000). */
static const unsigned long ranges[][2] = {
    {0x00010000, 0x20000000},
    {0x40000000, 0x7c000000},
    {0x7f000000, 0x82000000},
};

static unsigned long hex(const char **p)
{
    unsigned long v = 0;
    for (;; (*p)++)
    {
        char c = **p;
        if (c >= '0' && c <= '9')
            v = v * 16 + (c - '0');
        else if (c >= 'a' && c <= 'f')
            v = v * 16 + (c - 'a' + 10);
        else
            return v;
    }
}

static void reserve(unsigned long s, unsigned long e)
{
    void *p;
    s = (s + 0xffff) & ~0xffffUL;
    e &= ~0xffffUL;
    if (e <= s || nareas >= MAX_AREAS)
        return;
    p = mmap((void *)s, e - s, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == (void *)-1)
        return;
    if ((unsigned long)p != s)
    {
        munmap(p, e - s);
        return;
    }
    areas[nareas].addr = (void *)s;
    areas[nareas].size = e - s;
    nareas++;
}

__attribute__((constructor)) static void init(void)
{
    const struct preload_info **info = dlsym((void *)0, "wine_main_preload_info");
    int fd, n, len = 0, i, r;
    const char *p;

    if (!info || *info || getenv("WINE_QEMU_NORESERVE"))
        return;
    if ((fd = open("/proc/self/maps", 0)) < 0)
        return;
    while (len < (int)sizeof(buf) - 1 && (n = read(fd, buf + len, sizeof(buf) - 1 - len)) > 0)
        len += n;
    close(fd);
    buf[len] = 0;
    for (p = buf; *p && nmaps < MAX_MAPS;)
    {
        mstart[nmaps] = hex(&p);
        if (*p++ != '-')
            break;
        mend[nmaps] = hex(&p);
        nmaps++;
        while (*p && *p != '\n')
            p++;
        if (*p)
            p++;
    }
    for (r = 0; r < 3; r++)
    {
        unsigned long s = ranges[r][0], e = ranges[r][1];
        for (i = 0; i < nmaps; i++)
        {
            if (mend[i] <= s || mstart[i] >= e)
                continue;
            if (mstart[i] > s)
                reserve(s, mstart[i]);
            if (mend[i] > s)
                s = mend[i];
        }
        reserve(s, e);
    }
    if (getenv("WINE_QEMU_RESERVE_DEBUG"))
    {
        write(2, buf, len);
        for (i = 0; i < (int)nareas; i++)
        {
            char line[40];
            unsigned long v[2] = {(unsigned long)areas[i].addr, (unsigned long)areas[i].addr + areas[i].size};
            int k, j, o = 0;
            for (k = 0; k < 2; k++)
            {
                for (j = 28; j >= 0; j -= 4)
                    line[o++] = "0123456789abcdef"[(v[k] >> j) & 15];
                line[o++] = k ? '\n' : '-';
            }
            write(2, "reserved ", 9);
            write(2, line, o);
        }
    }
    if (nareas)
        *info = areas;
}
