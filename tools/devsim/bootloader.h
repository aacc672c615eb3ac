#pragma once

#include "eventloop.h"
#include "rxaudit.h"

#include <QByteArray>

#include <map>
#include <memory>
#include <set>
#include <vector>

class cDevice;
class cPort;
struct cOptions;

// The transponder's boot loader: announces itself with a stream of 'U', answers the program's 'U'
// with 'C' and then receives the image as XMODEM-1K with CRC-16. Also plays a second, dead boot
// loader port for the two-bootloaders fault, and another device's boot loader (Other), which takes
// an image like the transponder's but keeps it apart and never restarts.
class cBootLoader
{
public:
    enum class eRole { Device, Silent, Other };

    cBootLoader(cDevice &device, cEventLoop &loop, const cOptions &options, eRole role);
    ~cBootLoader();
    cBootLoader(const cBootLoader &) = delete;
    cBootLoader &operator=(const cBootLoader &) = delete;

    bool open();
    void close();
    std::shared_ptr<cPort> port() const { return m_port; }

private:
    enum class eState {
        UStream,     // announcing itself, waiting for the program's 'U'
        UForever,    // fault: announcing itself whatever the program does
        WaitHeader,  // handshake done or block answered: next STX, EOT or CAN
        InBlock,     // collecting the 1029 bytes of a block
        Flashing,    // writing a good block; not reading until the ACK is out
        Finished,    // image taken, restarting soon
        Dead         // a fault or a vanished device: hears everything, says nothing
    };

    void onBytes(const QByteArray &bytes);
    void process(); // consume() and log what was ignored
    // judged: whether the device was listening for anything at all (a deaf one judges nothing)
    void ignore(const QByteArray &bytes, bool judged = true);
    void consume();
    void consumeHeaderByte(char byte);
    void startUStream();
    void uTick();
    void wrongSyncTick();
    void handshake(bool first);
    void repeatC();
    void blockComplete();
    void newBlock(int position, const QByteArray &data);
    void badBlock(const QString &reason);
    void evaluateCans();
    void onEot();
    void writeImage();
    void send(char byte);
    void arm(cEventLoop::tTimerId &slot, int ms, std::function<void()> fn);
    void disarm(cEventLoop::tTimerId &slot);
    void disarmAll();
    bool takeFault(std::map<int, int> &remaining, int position);

    cDevice &m_device;
    cEventLoop &m_loop;
    const cOptions &m_options;
    const eRole m_role;
    std::shared_ptr<cPort> m_port;

    eState m_state = eState::Dead;
    QByteArray m_in;      // received, not yet consumed (kept while flashing)
    QByteArray m_ignored; // collected for one log line per read
    QByteArray m_judged;  // the part of it the device was listening when it came
    cRxAudit m_audit;
    QByteArray m_block;
    QByteArray m_image;
    int m_expected = 1; // position of the next new block
    int m_cRepeats = 0;
    int m_cans = 0;
    int m_eots = 0;
    cEventLoop::tClock::time_point m_lastC;

    // Fault budgets left, by block position; they last across transfers so a test can let a
    // first attempt fail and a retry succeed.
    std::map<int, int> m_nakLeft;
    std::map<int, int> m_silentLeft;
    std::map<int, int> m_oddLeft;
    std::map<int, int> m_zeroLeft;
    std::set<int> m_lateAckUsed;
    bool m_eotNakUsed = false;
    int m_badHandshakesLeft = 0;
    bool m_replugged = false;

    cEventLoop::tTimerId m_uTimer = 0;
    cEventLoop::tTimerId m_cTimer = 0;
    cEventLoop::tTimerId m_byteTimer = 0;
    cEventLoop::tTimerId m_canTimer = 0;
    cEventLoop::tTimerId m_flashTimer = 0;
    std::vector<cEventLoop::tTimerId> m_lateAcks;
};
