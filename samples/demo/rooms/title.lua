-- The title room: stars drift by, the ship hovers under the title, and ENTER, SPACE or a click
-- starts the game. The play room's pictures are loaded first through a resource list (which
-- also lets go of the pictures only the title uses); once they are in, forceNewRoom switches.

-- Log lines (room changes, saves) reach a terminal or a pipe at once.
io.stdout:setvbuf("line")

function Init()
    setBackgroundColor(11 / 255, 16 / 255, 38 / 255)
    hud = Hud:new()
    title = {image = getImageHandle("title.png"), width = 560}
    start = {image = getImageHandle("start.png"), width = 354}
    controls = {image = getImageHandle("controls.png"), width = 555}
    bestWord = getImageHandle("best.png")
    shipImage = getImageHandle("ship.png")
    starSpeed = 0.4
    for i = 1, 90 do
        instTable["star" .. i] = Star:new()
    end
    clock = 0
    starting = false
    print("demo: entered the title room")
end

function Step()
    clock = clock + 1
    if not starting and (keyPressed(KEY_ENTER) or keyPressed(KEY_SPACE) or mousePressed(BUTTON_LEFT)) then
        beginResourceList()
        includeRoom("play", 1)
        endResourceList()
        starting = true
    end
    if starting and resourcesAreLoaded() then
        forceNewRoom("play")
    end
end

function Render()
    hud:drawCentred(title, 320, 300)
    drawImage(shipImage, 304, 236 + math.floor(math.sin(clock / 20) * 6))
    if starting or math.floor(clock / 30) % 2 == 0 then
        hud:drawCentred(start, 320, 150)
    end
    hud:drawCentred(controls, 320, 40)
    if bestScores and (bestScores[1] or 0) > 0 then
        drawImage(bestWord, 262, 96)
        hud:drawNumber(bestScores[1], 322, 97)
    end
end
