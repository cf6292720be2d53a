// For the tests alone: eyes on the pointer, telling the tests' hand
// (tests/kwin/hand.cpp) of every move as it comes.
function tell() {
    const pointer = workspace.cursorPos;
    callDBus('org.glide.Hand', '/org/glide/Hand', 'org.glide.Hand', 'Report', pointer.x,
        pointer.y);
}
workspace.cursorPosChanged.connect(tell);
tell();
