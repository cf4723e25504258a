/*
 * The virtual red button: preloaded into Wine's processes (LD_PRELOAD), it
 * gives one pseudo-terminal the modem lines of a serial port whose DTR line
 * is switched onto DSR by a button. A pty has no modem lines, so Wine's
 * DTR/DSR calls and WaitCommEvent would fail on it.
 *
 * KRVN_VBUTTON_DEVICE  the pty (or a link to it) that stands behind the COM port
 * KRVN_VBUTTON_STATE   folder of the button's state:
 *                        pressed  exists while the button is held (written by tests)
 *                        dtr, rts exist while the program holds the line raised
 *
 * Only the modem-line ioctls on that one device are answered here; every
 * other call goes to the real ioctl. The device is recognised by its device
 * number, because wineserver opens it and hands the descriptor over.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

static int real_ioctl(int fd, unsigned long request, void *arg)
{
    static ioctl_fn next;
    ioctl_fn fn = __atomic_load_n(&next, __ATOMIC_ACQUIRE);
    if (!fn) {
        fn = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
        if (!fn) {
            errno = ENOSYS;
            return -1;
        }
        __atomic_store_n(&next, fn, __ATOMIC_RELEASE);
    }
    return fn(fd, request, arg);
}

static int is_button_device(int fd)
{
    const char *device = getenv("KRVN_VBUTTON_DEVICE");
    const char *state = getenv("KRVN_VBUTTON_STATE");
    struct stat wanted, actual;

    if (!device || !*device || !state || !*state)
        return 0;
    if (stat(device, &wanted) != 0 || !S_ISCHR(wanted.st_mode))
        return 0;
    if (fstat(fd, &actual) != 0 || !S_ISCHR(actual.st_mode))
        return 0;
    return actual.st_rdev == wanted.st_rdev;
}

static int state_path(char *path, size_t size, const char *name)
{
    int n = snprintf(path, size, "%s/%s", getenv("KRVN_VBUTTON_STATE"), name);
    if (n < 0 || (size_t)n >= size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return 0;
}

static int flag_is_set(const char *name)
{
    char path[4096];
    return state_path(path, sizeof path, name) == 0 && access(path, F_OK) == 0;
}

/* Creating or removing a file is atomic, so a reader never sees half a state. */
static int set_flag(const char *name, int on)
{
    char path[4096];
    int fd;

    if (state_path(path, sizeof path, name) != 0)
        return -1;
    if (!on)
        return unlink(path) == 0 || errno == ENOENT ? 0 : -1;
    fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    close(fd);
    return 0;
}

static int output_lines(void)
{
    return (flag_is_set("dtr") ? TIOCM_DTR : 0) | (flag_is_set("rts") ? TIOCM_RTS : 0);
}

static int set_output_lines(int lines)
{
    if (set_flag("dtr", lines & TIOCM_DTR) != 0 || set_flag("rts", lines & TIOCM_RTS) != 0) {
        errno = EIO;
        return -1;
    }
    return 0;
}

/* Called only for the requests that ioctl() below hands over. */
static int answer(unsigned long request, void *arg)
{
    int lines;

    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    switch (request) {
    case TIOCMGET:
        lines = output_lines();
        /* The button closes DTR onto DSR. */
        if ((lines & TIOCM_DTR) && flag_is_set("pressed"))
            lines |= TIOCM_DSR;
        *(int *)arg = lines;
        return 0;
    case TIOCMSET:
        return set_output_lines(*(int *)arg);
    case TIOCMBIS:
        return set_output_lines(output_lines() | *(int *)arg);
    case TIOCMBIC:
        return set_output_lines(output_lines() & ~*(int *)arg);
    case TIOCGICOUNT:
        /* No line interrupts are counted; Wine reads DSR changes from TIOCMGET. */
        memset(arg, 0, sizeof(struct serial_icounter_struct));
        return 0;
    default: /* TIOCSERGETLSR: nothing is ever left to send. */
        *(unsigned int *)arg = TIOCSER_TEMT;
        return 0;
    }
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    void *arg;

    va_start(args, request);
    arg = va_arg(args, void *);
    va_end(args);

    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCGICOUNT:
    case TIOCSERGETLSR:
        if (is_button_device(fd))
            return answer(request, arg);
        break;
    }
    return real_ioctl(fd, request, arg);
}
